#include "kit/E2EKit.h"

namespace e2e {

TProductModule& Product() {
  static TProductModule module;
  return module;
}

TScratchFolder& TSession::Scratch() {
  static TScratchFolder folder;
  return folder;
}

TSession::TSession(TOptions Options) {
  Key = tolvaro::test::TSandbox::UniqueKey("e2e");
  // Not ASCII, so the token's UTF-8 and every log file's code page are put to the test.
  Password = L"Пароль-" + NewGuidText().substr(1, 8);
  Sandbox.AddTerminal(Key, U8(Password));
  DeviceID = Options.DeviceID.empty() ? W(Key) : Options.DeviceID;
  const std::wstring devices = Scratch().Path() + L"devices\\";
  CreateDirectoryW(devices.c_str(), nullptr);
  DeviceFolder = devices + DeviceID + L"\\";
  CreateDirectoryW(DeviceFolder.c_str(), nullptr);
  HostURL = !Options.Host.empty() ? Options.Host : W((Options.Https ? Sandbox.HttpsBase() : Sandbox.HttpBase()) + "/v2");

  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(kProgID, &clsid), S_OK);
  EXPECT_EQ(GuidToText(clsid), kClassGuidText);
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, FObject.OutVoid()), S_OK);
  if (!FObject) return;

  FManager = TTestEquipmentManager::Create();
  FManager->SetAppProperty(L"ModelsFolder", Scratch().Path() + L"models");
  FManager->SetAppProperty(L"Language", L"ru");
  FManager->SetAppProperty(L"DevicesFolder", devices);
  TVariant manager = FManager->AsVariant();
  TVariant description, id = TVariant::FromString(DeviceID);
  EXPECT_TRUE(IsTrue(InvokeByName(Disp(), L"Init", {ByVal(manager), VariantRefTo(description)})))
      << U8(Str(description));
  EXPECT_TRUE(IsTrue(InvokeByName(Disp(), L"Open", {ByVal(id), VariantRefTo(description)}))) << U8(Str(description));

  TVariant out;
  const TVariant settings = SettingsInData({
      {L"Host", TVariant::FromString(HostURL)},
      {L"TerminalKey", TVariant::FromString(W(Key))},
      {L"Password", TVariant::FromString(Password)},
      {L"WaitTimeout", TVariant::FromInt(Options.WaitTimeout)},
      {L"LineLength", TVariant::FromInt(Options.LineLength)},
      {L"DebugLogEnabled", TVariant::FromBool(Options.DebugLog)},
  });
  EXPECT_TRUE(IsTrue(Call(L"SetSettings", settings, out)));
  TInvokeResult enabled = Call(L"Enable", TVariant(), out);
  EXPECT_TRUE(IsTrue(enabled)) << U8(VariantSafeArray(out.Get()) ? Str(ItemOf(out, 1)) : L"");
}

TSession::~TSession() {
  Release();
  if (FManager) FManager->Release();
  // The terminal's password never reaches a file.
  std::vector<std::wstring> files = FilesUnder(Scratch().Path());
  for (const std::wstring& folder : DefaultLogFolders())
    for (const std::wstring& file : FilesUnder(folder)) files.push_back(file);
  for (const std::wstring& file : files) EXPECT_FALSE(FileHolds(file, Password)) << U8(file);
}

std::wstring TSession::Register(double Amount) {
  TVariant out;
  TInvokeResult r = Call(L"RegisterQrCode", Args({TVariant::FromDouble(Amount), TVariant::FromString(L"Заказ")}), out);
  EXPECT_TRUE(IsTrue(r)) << U8(CountOf(out) > 1 ? Str(ItemOf(out, 1)) : L"");
  return IsTrue(r) ? Str(ItemOf(out, 0)) : std::wstring();
}

std::vector<std::wstring> FilesUnder(const std::wstring& Folder) {
  std::vector<std::wstring> files;
  const std::wstring base = IncludeTrailingPathDelimiter(Folder);
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW((base + L"*").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return files;
  do {
    const std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      for (const std::wstring& f : FilesUnder(base + name)) files.push_back(f);
    } else {
      files.push_back(base + name);
    }
  } while (FindNextFileW(find, &fd));
  FindClose(find);
  return files;
}

std::vector<std::wstring> DefaultLogFolders() {
  const std::wstring common = IncludeTrailingPathDelimiter(SpecialFolderPath(CSIDL_COMMON_APPDATA, false));
  return {common + L"tolvaro\\", common + L"Quorvel\\"};
}

bool FileHolds(const std::wstring& File, const std::wstring& Text) {
  const std::string bytes = ReadBytes(File);
  const std::string ansi = Utf16ToAnsi(Text), utf8 = Utf16ToUtf8(Text);
  const std::string utf16(reinterpret_cast<const char*>(Text.data()), Text.size() * sizeof(wchar_t));
  return bytes.find(ansi) != std::string::npos || bytes.find(utf8) != std::string::npos ||
         bytes.find(utf16) != std::string::npos;
}

}  // namespace e2e
