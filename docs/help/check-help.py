#!/usr/bin/env python3
"""The help's pages against what they describe:
    check-help.py SOURCE_ROOT
- every text a page quotes as the driver's (<span class="msg">) is in the driver's sources (src/),
  character for character, and every text it quotes as the bank sandbox's (<span class="bank">) is
  in the sandbox's (tools/sandbox/): a text the code changed, or a typo in the page, fails;
- the integration page's example (<pre class="example">) is docs/examples/session.vbs, which the
  examples test runs;
- the version history's first entry is the version of src/res/version.h;
- the settings page's tables are the settings as the code declares them (AddSetting: ID, caption,
  type, default), and its list of GetSettings columns is their declaration order;
- every registry root a page names as where the driver registers (<code class="regroot">) is one
  the registration code and the installer write to, and the installation page names them all,
  with the class GUID of the code;
- every page is in the contents tree (toc.hhc) and the project (tolvaro.hhp).
The receipt examples of methods.html are checked against the receipt formatter itself by the
driver's tests (tests/driver/test_receipt.cpp), which run it.
"""
import html
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
help_dir = root / "docs" / "help"
failures = []


def texts_under(folder, suffixes):
    return [p.read_text(encoding="utf-8", errors="replace") for p in sorted(folder.rglob("*")) if p.suffix in suffixes]


sources = {
    "msg": texts_under(root / "src", {".h", ".cpp", ".rc"}),
    "bank": texts_under(root / "tools" / "sandbox", {".h", ".cpp"}),
}
where = {"msg": "src/", "bank": "tools/sandbox/"}

pages = sorted(help_dir.glob("*.html"))
quoted = 0
for page in pages:
    text = page.read_text(encoding="utf-8")
    for kind, raw in re.findall(r'<span class="(msg|bank)">(.*?)</span>', text, flags=re.S):
        quote = html.unescape(raw)
        quoted += 1
        if not any(quote in source for source in sources[kind]):
            failures.append(f"{page.name}: '{quote}' is not in {where[kind]}")

example = (root / "docs" / "examples" / "session.vbs").read_text(encoding="utf-8")
integration = (help_dir / "integration.html").read_text(encoding="utf-8")
shown = re.search(r'<pre class="example">(.*?)</pre>', integration, flags=re.S)
if not shown:
    failures.append("integration.html shows no example (<pre class=\"example\">)")
elif html.unescape(shown.group(1)) != example:
    failures.append("integration.html's example is not docs/examples/session.vbs as it is now")

version = re.search(r'#define TOLVARO_VERSION_TEXT "([^"]+)"', (root / "src" / "res" / "version.h").read_text()).group(1)
history = re.findall(r'<h2 class="version">([^<]+)</h2>', (help_dir / "history.html").read_text(encoding="utf-8"))
if not history or history[0] != version:
    failures.append(f"history.html's first entry is {history[0] if history else 'missing'}, not {version} (src/res/version.h)")



def plain(cell):
    return html.unescape(re.sub(r"<[^>]+>", "", cell)).strip()


def cpp_unescape(raw):
    return re.sub(r'\\(.)', r"\1", raw)


# Every named wide-string constant of src/ ("kSHostName" -> "Хост").
constants = {}
for header in sorted((root / "src").rglob("*.h")):
    for name, raw in re.findall(r'\b(k\w+)\[\]\s*=\s*L"((?:[^"\\]|\\.)*)"', header.read_text(encoding="utf-8")):
        constants[name] = cpp_unescape(raw)

# The settings in declaration order: the device's own first, then the driver's (the order in
# which their DeclareSettings run). A redeclaration keeps the first place.
type_names = {"dtNumber": "Number", "dtString": "String", "dtDateTime": "Date", "dtBoolean": "Boolean"}
declared = {}
for unit in ("src/device/uBaseDevice.cpp", "src/fps/uBaseFastPaymentSystem.cpp", "src/fps/uDriver.cpp"):
    source = (root / unit).read_text(encoding="utf-8")
    for id_name, dtype, kind, default, name in re.findall(
            r"AddSetting\(\s*(k\w+)\s*,\s*(dt\w+)\s*,\s*TVariant::From(\w+)\(([^)]*)\)\s*,\s*\w+\s*,\s*(k\w+)", source):
        setting_id = constants.get(id_name, id_name)
        if kind == "String":
            default = constants[default] if default in constants else cpp_unescape(default.strip()[2:-1])
            default = default or "пусто"
        elif kind == "Bool":
            default = {"true": "True", "false": "False"}.get(default.strip(), default)
        declared.setdefault(setting_id, (constants.get(name, name), type_names.get(dtype, dtype), default.strip()))
if not declared:
    failures.append("no AddSetting declaration found in the sources: check-help.py reads them no more")

settings_page = (help_dir / "settings.html").read_text(encoding="utf-8")
documented = {}
for table in re.findall(r"<table>\s*<tr><th>Идентификатор</th><th>Название</th>.*?</table>", settings_page, flags=re.S):
    for row in re.findall(r"<tr><td>(.*?)</td><td>(.*?)</td><td>(.*?)</td><td>(.*?)</td>", table, flags=re.S):
        documented[plain(row[0])] = tuple(plain(cell) for cell in row[1:])
for setting_id, what in declared.items():
    if setting_id not in documented:
        failures.append(f"settings.html does not describe the setting {setting_id}")
    elif documented[setting_id] != what:
        failures.append(f"settings.html describes {setting_id} as {documented[setting_id]}, the code declares {what}")
for setting_id in documented:
    if setting_id not in declared:
        failures.append(f"settings.html describes a setting {setting_id} the code does not declare")
columns = re.search(r'<table class="columns">(.*?)</table>', settings_page, flags=re.S)
order = re.findall(r"<code>(\w+)</code>", columns.group(1)) if columns else []
if order != list(declared):
    failures.append(f"settings.html gives the GetSettings columns as {order}, the code declares {list(declared)}")

# Where registration writes: the roots of the registration code and of the installer's package.
com_server = (root / "src" / "host" / "uComServer.cpp").read_text(encoding="utf-8")
classes = re.search(r'kClasses\[\]\s*=\s*L"((?:[^"\\]|\\.)*)"', com_server)
scopes = re.search(r"ScopeBase\(bool PerUser\)[^{]*\{\s*return PerUser \? (HKEY_\w+) : (HKEY_\w+)", com_server)
hives = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER"}
wxs = (root / "tools" / "installer" / "tolvaro.wxs").read_text(encoding="utf-8")
package_roots = {hives.get(hive, hive) + "\\" + key
                 for hive, key in zip(re.findall(r"define RegRoot = (\w+)", wxs), re.findall(r"define Classes = ([^?]+?) \?>", wxs))}
if not classes or not scopes or not package_roots:
    failures.append("check-help.py finds the registry roots in uComServer.cpp or tolvaro.wxs no more")
else:
    code_roots = {hive + "\\" + cpp_unescape(classes.group(1)) for hive in scopes.groups()}
    if package_roots != code_roots:
        failures.append(f"the installer writes under {sorted(package_roots)}, DllRegisterServer under {sorted(code_roots)}")
    for page in pages:
        for named in re.findall(r'<code class="regroot">(.*?)</code>', page.read_text(encoding="utf-8")):
            if html.unescape(named) not in code_roots:
                failures.append(f"{page.name} names {html.unescape(named)} as where the driver registers; it writes under {sorted(code_roots)}")
    install_page = (help_dir / "install.html").read_text(encoding="utf-8")
    named = {html.unescape(n) for n in re.findall(r'<code class="regroot">(.*?)</code>', install_page)}
    if named != code_roots:
        failures.append(f"install.html names {sorted(named)} as where the driver registers, not {sorted(code_roots)}")
    class_guid = constants.get("kDriverClassGuidText", "")
    for guid in set(re.findall(r"\{[0-9A-Fa-f-]{36}\}", install_page)):
        if guid != class_guid:
            failures.append(f"install.html shows the class {guid}, the code's is {class_guid}")

toc = (help_dir / "toc.hhc").read_text(encoding="utf-8")
project = (help_dir / "tolvaro.hhp").read_text(encoding="utf-8").splitlines()
for page in pages:
    if f'<param name="Local" value="{page.name}">' not in toc:
        failures.append(f"{page.name} is not in the contents tree (toc.hhc)")
    if page.name not in project:
        failures.append(f"{page.name} is not in tolvaro.hhp")

for f in failures:
    print("FAIL: " + f)
print(f"{len(pages)} pages, {quoted} quoted texts, {len(declared)} settings, example, registry roots and version history checked: "
      f"{len(failures)} failed")
sys.exit(1 if failures else 0)
