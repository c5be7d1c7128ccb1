#!/usr/bin/env python3
"""The help's pages against what they describe:
    check-help.py SOURCE_ROOT
- every text a page quotes as the driver's (<span class="msg">) is in the driver's sources (src/),
  character for character, and every text it quotes as the bank sandbox's (<span class="bank">) is
  in the sandbox's (tools/sandbox/): a text the code changed, or a typo in the page, fails;
- the integration page's example (<pre class="example">) is docs/examples/session.vbs, which the
  examples test runs;
- the version history's first entry is the version of src/res/version.h;
- every page is in the contents tree (toc.hhc) and the project (tolvaro.hhp).
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

toc = (help_dir / "toc.hhc").read_text(encoding="utf-8")
project = (help_dir / "tolvaro.hhp").read_text(encoding="utf-8").splitlines()
for page in pages:
    if f'<param name="Local" value="{page.name}">' not in toc:
        failures.append(f"{page.name} is not in the contents tree (toc.hhc)")
    if page.name not in project:
        failures.append(f"{page.name} is not in tolvaro.hhp")

for f in failures:
    print("FAIL: " + f)
print(f"{len(pages)} pages, {quoted} quoted texts, example and version history checked: {len(failures)} failed")
sys.exit(1 if failures else 0)
