#!/usr/bin/python3
"""The user guide keeps up with the program.

  check-docs.py cli ROOT TAVRIX_CLI   every subcommand and option of `tavrix-cli --help` is in docs/
  check-docs.py settings ROOT         every settings section and key the code reads is in settings.md
  check-docs.py setup ROOT            the README's set-up commands are those CI and the demo run
  check-docs.py links ROOT            relative links and anchors of README.md and docs/ resolve

Each prints what is missing and exits 1, or says what it checked and exits 0.
"""
import re
import subprocess
import sys
from pathlib import Path


def fail(problems, ok_message):
    for p in problems:
        print(p)
    if problems:
        return 1
    print(ok_message)
    return 0


def docs_text(root):
    return "\n".join(p.read_text(encoding="utf-8") for p in sorted((root / "docs").glob("*.md")))


def help_of(cli, *words):
    out = subprocess.run([cli, *words, "--help"], capture_output=True, text=True, timeout=30)
    return out.stdout


def subcommands(help_text):
    names, on = [], False
    for line in help_text.splitlines():
        if line.startswith("Subcommands:"):
            on = True
        elif on and re.match(r"^  \S", line):
            names.append(line.split()[0])
    return names


def options(help_text):
    found = set(re.findall(r"(?:^|[ ,])(--[a-z][a-z0-9-]*)", help_text, re.M))
    return sorted(found - {"--help"})


def check_cli(root, cli):
    # The command line's page is where each subcommand and option must be named.
    page = (root / "docs" / "cli.md").read_text(encoding="utf-8")
    problems = []
    top = help_of(cli)
    for opt in options(top.split("Subcommands:")[0]):
        if not re.search(re.escape(opt) + r"\b", page):
            problems.append(f"docs/cli.md: option {opt} of tavrix-cli is not described")
    count = 0
    for sub in subcommands(top):
        sub_help = help_of(cli, sub)
        nested = subcommands(sub_help)
        for words in ([sub, n] for n in nested) if nested else [[sub]]:
            count += 1
            name = " ".join(words)
            if f"`{name}" not in page and not (len(words) == 2 and re.search(
                    rf"`{re.escape(words[0])} [^`]*\b{re.escape(words[1])}\b", page)):
                problems.append(f"docs/cli.md: subcommand '{name}' is not described")
            for opt in options(help_of(cli, *words).split("Subcommands:")[0]):
                if not re.search(re.escape(opt) + r"\b", page):
                    problems.append(f"docs/cli.md: option {opt} of '{name}' is not described")
    return fail(problems, f"docs/cli.md describes all {count} subcommands and their options")


def code_settings_keys(root):
    """Sections and keys the code names: the settings constants, the sections and keys of the
    classes that keep their own, and literal names passed to the store."""
    keys = set()
    store_h = (root / "src/core/base/SettingsStore.h").read_text()
    ns = store_h[store_h.index("namespace settings"):]
    for name, value in re.findall(r'const char\*\s+(k\w+)(?:\[\d+\])?\s*=\s*([^;]+);', ns):
        if not name.startswith("kDefault"):
            keys.update(re.findall(r'"([^"]+)"', value))
    for src in (root / "src").rglob("*"):
        if src.suffix not in (".cpp", ".h"):
            continue
        text = src.read_text(errors="replace")
        keys.update(re.findall(r'\bk\w*(?:Section|Key)\w*\s*=\s*"([^"]+)"', text))
        for args in re.findall(r'\b(?:GetInt|GetIntInRange|GetString|WriteInt|WriteString)\(([^;]*?)\)',
                               text):
            parts = args.split(",")[:2]
            keys.update(m for p in parts for m in re.findall(r'^\s*"([A-Za-z_][\w]*)"\s*$', p))
    folders = (root / "src/core/base/FileFolders.cpp").read_text()
    keys.update(re.findall(r'return "([A-Z]+)";', folders))
    return keys


def check_settings(root):
    page = (root / "docs" / "settings.md").read_text(encoding="utf-8")
    named = set(re.findall(r"`([^`]+)`", page))
    keys = code_settings_keys(root)
    missing = sorted(k for k in keys if k not in named)
    return fail([f"docs/settings.md: settings name `{k}` is not listed" for k in missing],
                f"docs/settings.md lists all {len(keys)} settings sections and keys the code names")


def check_setup(root):
    readme = (root / "README.md").read_text(encoding="utf-8")
    block = re.search(r"```sh\n(.*?)```", readme, re.S)
    problems = []
    commands = [l.split("#")[0].strip() for l in block.group(1).splitlines()] if block else []
    first_section = readme.find("\n## ")
    if not block or (first_section >= 0 and block.start() > first_section):
        problems.append("README.md: the set-up commands are not the first thing under the title")
    if commands != ["scripts/run-demo.sh", "scripts/run-tests.sh"]:
        problems.append(f"README.md: first commands are {commands}, "
                        "not scripts/run-demo.sh and scripts/run-tests.sh")
    ci = (root / ".ci/run").read_text()
    if "scripts/run-tests.sh" not in ci:
        problems.append(".ci/run does not run scripts/run-tests.sh")
    demo = (root / "scripts/run-demo.sh").read_text()
    if not re.search(r"^exec build/release/src/gui/tavrix --sim", demo, re.M):
        problems.append("scripts/run-demo.sh does not start the desktop program on the simulator")
    for c in commands:
        p = root / c
        if not p.is_file() or not p.stat().st_mode & 0o111:
            problems.append(f"README.md: {c} is not an executable script")
    return fail(problems, "README.md starts with the commands CI and the demo run")


def slug(heading):
    text = re.sub(r"<[^>]+>", "", heading).strip().lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(path):
    text = path.read_text(encoding="utf-8")
    text = re.sub(r"```.*?```", "", text, flags=re.S)
    found = {slug(h) for h in re.findall(r"^#{1,6} (.+)$", text, re.M)}
    found.update(re.findall(r'<a name="([^"]+)"', text))
    return found


def check_links(root):
    files = [root / "README.md", *sorted((root / "docs").glob("*.md"))]
    problems, count = [], 0
    for f in files:
        text = re.sub(r"```.*?```", "", f.read_text(encoding="utf-8"), flags=re.S)
        for target in re.findall(r"\]\(([^)\s]+)\)", text):
            if re.match(r"[a-z]+:", target):
                continue
            count += 1
            file, _, frag = target.partition("#")
            dest = (f.parent / file).resolve() if file else f
            rel = f.relative_to(root)
            if not dest.exists():
                problems.append(f"{rel}: link to {target}: no such file")
            elif frag and (dest.suffix != ".md" or frag not in anchors(dest)):
                problems.append(f"{rel}: link to {target}: no such heading")
    return fail(problems, f"all {count} relative links of README.md and docs/ resolve")


def main():
    mode, root = sys.argv[1], Path(sys.argv[2])
    if mode == "cli":
        return check_cli(root, sys.argv[3])
    return {"settings": check_settings, "setup": check_setup, "links": check_links}[mode](root)


if __name__ == "__main__":
    sys.exit(main())
