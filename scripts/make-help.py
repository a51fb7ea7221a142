#!/usr/bin/python3
"""Makes the desktop program's help page from the user guide in docs/.

The operator's pages are joined in a fixed order into one HTML page. Every heading gets an
anchor "page-heading" (the page's title: "page"), links between pages become links inside the
one page, and the raw anchors "cmdNNNNN" of the menu commands pass through unchanged.

Usage: make-help.py --cmark CMARK_GFM DOCS_DIR OUT.html
"""
import argparse
import html
import re
import subprocess
import sys
from pathlib import Path

# The operator's pages, in the order the help shows them. The developer's pages (design,
# building) stay out of the program's help.
PAGES = ["index", "desktop", "connecting", "curves", "calgen", "logging", "terminal",
         "calibration", "simulator", "settings", "cli", "behaviour-choices"]

HEADING = re.compile(r"<h([1-6])>(.*?)</h\1>", re.S)
HREF = re.compile(r'<a href="([^"]*)">(.*?)</a>', re.S)


def slug(heading_html):
    """The anchor GitHub gives a heading: lower case, punctuation dropped, blanks to '-'."""
    text = html.unescape(re.sub(r"<[^>]+>", "", heading_html)).strip().lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def convert(cmark, path):
    result = subprocess.run([cmark, "--unsafe", "-e", "table", "-e", "autolink", str(path)],
                            capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"make-help: {cmark} failed on {path}: {result.stderr.strip()}")
    return result.stdout


def page_html(page, body):
    def anchor_heading(m):
        level, inner = m.group(1), m.group(2)
        name = page if level == "1" else f"{page}-{slug(inner)}"
        return f'<h{level}><a name="{name}"></a>{inner}</h{level}>'

    def relink(m):
        target, text = m.group(1), m.group(2)
        if re.match(r"[a-z]+:", target):
            return m.group(0)
        file, _, frag = target.partition("#")
        if not file:
            return f'<a href="#{page}-{frag}">{text}</a>'
        name = Path(file).stem
        if file.endswith(".md") and name in PAGES:
            return f'<a href="#{name}-{frag}">{text}</a>' if frag else f'<a href="#{name}">{text}</a>'
        return text  # a file the help page does not hold: the link text alone

    body = HEADING.sub(anchor_heading, body)
    body = HREF.sub(relink, body)
    body = body.replace("<table>", '<table border="1" cellspacing="0" cellpadding="3">')
    return body


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cmark", required=True)
    parser.add_argument("docs")
    parser.add_argument("out")
    args = parser.parse_args()
    docs = Path(args.docs)
    parts = []
    for page in PAGES:
        path = docs / f"{page}.md"
        if not path.is_file():
            sys.exit(f"make-help: {path} is missing")
        parts.append(page_html(page, convert(args.cmark, path)))
    out = Path(args.out)
    out.parent.mkdir(parents=True, exist_ok=True)
    tmp = out.with_suffix(".tmp")
    tmp.write_text('<!DOCTYPE html>\n<html>\n<head><meta charset="utf-8">'
                   "<title>Tavrix Utility Software - Help</title></head>\n<body>\n"
                   + "\n<hr>\n".join(parts) + "</body>\n</html>\n", encoding="utf-8")
    tmp.replace(out)


if __name__ == "__main__":
    main()
