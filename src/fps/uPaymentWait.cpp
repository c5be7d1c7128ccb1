#include "uPaymentWait.h"

#include <exception>
#include <new>

#include "bank/uBankExceptions.h"
#include "host/uComServer.h"
#include "host/uDebugLog.h"
#include "platform/uExceptions.h"
#include "platform/uStrings.h"
#include "uDriverStrings.h"

namespace {

std::atomic<long> GRunningWaits{0};

HANDLE NewManualResetEvent(bool Signalled) {
  HANDLE h = CreateEventW(nullptr, TRUE, Signalled ? TRUE : FALSE, nullptr);
  if (!h) RaiseOSError(GetLastError());
  return h;
}

// What the thread owns: its share of the wait, its module lock and its reference to the module.
struct TThreadStart {
  std::shared_ptr<TPaymentWait> Wait;
  TModuleThreadRef ModuleRef;
};

// noexcept: whatever escapes ends the process the same way on both bitnesses, never unwinding
// into the system's thread start.
DWORD WINAPI PaymentWaitThread(void* Parameter) noexcept {
  HMODULE self = nullptr;
  {
    std::unique_ptr<TThreadStart> start(static_cast<TThreadStart*>(Parameter));
    // Taken by the starter for this thread; given back by the last call below, which never
    // returns into this module.
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&PaymentWaitThread), &self);
    try {
      PollPaymentState(*start->Wait);
    } catch (...) {
      // Nothing of ours raises here; the wait's owner sees no Done and reports its time-out.
    }
    --GRunningWaits;
  }  // the wait's share, the client and the module lock go here, while our code still runs
  FreeLibraryAndExitThread(self, 0);
  return 0;
}

}  // namespace

void TDebugLogSnapshot::Write(const std::wstring& Caption, const std::wstring& Text) const noexcept {
  if (Enabled) WriteDebugLogLine(Folder, InstanceID, Caption, Text, false);
}

TPaymentWait::TPaymentWait() : Done(NewManualResetEvent(false)), StopNow(NewManualResetEvent(false)) {}

void TPaymentWait::Cancel() noexcept {
  IsCancel = true;
  SetEvent(StopNow.Get());
}

std::wstring CurrentExceptionMessage() noexcept {
  try {
    try {
      throw;
    } catch (const bank::Exception& e) {
      // The bank's errors are the one kind the platform's translator does not know.
      return Utf8ToUtf16(e.what());
    } catch (const Exception&) {
      return DescribeCurrentException().Message;
    } catch (const std::exception&) {
      return DescribeCurrentException().Message;
    } catch (...) {
      return kSUnknownError;
    }
  } catch (...) {
    return kSUnknownError;
  }
}

bool IsFinalStatus(int Status) noexcept {
  switch (Status) {
    case bank::CONFIRMED:
    case bank::REJECTED:
    case bank::CANCELED:
    case bank::REFUNDED:
    case bank::PARTIAL_REFUNDED:
    case bank::REVERSED: return true;
    default: return false;
  }
}

void PollPaymentStateOnce(TPaymentWait& Wait) {
  bank::TStateRequest request;
  request.PaymentId = Wait.PaymentId;
  request.TerminalKey = Wait.TerminalKey;
  request.Token = bank::MakeToken(request, Wait.Password);
  const bank::TStateResponse response = Wait.Api->GetState(request);
  Wait.Status = bank::StatusFromText(response.Status);
  Wait.Amount = (response.Amount / 100).Raw;
}

void PollPaymentState(TPaymentWait& Wait) {
  for (;;) {
    Wait.Message.clear();
    // Abandoned: end without a word; nobody waits for this thread any more.
    if (Wait.IsCancel) return;
    try {
      PollPaymentStateOnce(Wait);
    } catch (...) {
      Wait.Message = CurrentExceptionMessage();
      // A failure without a text is still a failure, never a payment.
      if (Wait.Message.empty()) Wait.Message = kSUnknownError;
      Wait.Log.Write(kSDriverLogTitle, Wait.Message);
    }
    // A cancelled, rejected or already returned payment is decided too: waiting on would only
    // run into the time-out.
    const bool decided = IsFinalStatus(Wait.Status) || !Wait.Message.empty();
    if (decided) Wait.Decided = true;  // nothing of the state is written after this
    // The pause ends early only when the wait is abandoned.
    WaitForSingleObject(Wait.StopNow.Get(), Wait.PollPauseMs);
    if (decided) break;
  }
  SetEvent(Wait.Done.Get());
}

void StartPaymentWait(const std::shared_ptr<TPaymentWait>& Wait) {
  auto start = std::make_unique<TThreadStart>(TThreadStart{Wait, TModuleThreadRef()});
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&PaymentWaitThread),
                          &self))
    RaiseOSError(GetLastError());
  ++GRunningWaits;
  HANDLE thread = CreateThread(nullptr, 0, &PaymentWaitThread, start.get(), 0, nullptr);
  if (!thread) {
    const DWORD error = GetLastError();
    --GRunningWaits;
    FreeLibrary(self);
    RaiseOSError(error);
  }
  start.release();  // the thread's now
  CloseHandle(thread);  // it frees itself when it ends
}

long RunningPaymentWaits() noexcept { return GRunningWaits.load(); }
