#!/usr/bin/env bash
# The release archive as a Windows user unpacks it: CPack zips the built
# Tarnwick.exe with the user's guide, as Markdown and as the web page rendered
# from it, and every link of the guide (pictures, other files, its own headings)
# must resolve inside the archive, since nothing else of the source tree comes
# along. The page is checked by what a reader meets: its title, every picture
# of the guide inside the archive, and an id for each of its own '#' links.
# The README's links are checked in the source tree, where it is read. Usage: release_archive.sh <build dir> windows
# windows-only
set -uo pipefail

build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)

# shellcheck source=tests/e2e/lib.bash
. "$root/tests/e2e/lib.bash"
require_tools cpack python3
require_built "$build/ui/Tarnwick.exe" "$build/CPackConfig.cmake"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
archives=("$work"/*.zip)
[ -f "${archives[0]}" ] || { echo "FAIL: cpack wrote no zip"; exit 1; }

python3 - "${archives[0]}" "$root" <<'EOF'
import os.path
import posixpath
import re
import sys
import zipfile
from html.parser import HTMLParser

archive_path, root = sys.argv[1], sys.argv[2]
failures = []


def without_code(markdown):
    # Fenced code holds commands, not links or headings.
    return re.sub(r"```.*?```", "", markdown, flags=re.S)


def links(markdown):
    # Inline links and pictures.
    return re.findall(r"\]\(([^)\s]+)\)", without_code(markdown))


class Page(HTMLParser):
    # The rendered guide as a browser takes it: its title, its pictures, the
    # element ids and the page's links to them.
    def __init__(self, text):
        super().__init__()
        self.title, self.pictures, self.ids, self.own_links, self.text = None, [], set(), [], None
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            self.ids.add(attrs["id"])
        if tag == "img":
            self.pictures.append(attrs["src"])
        if attrs.get("href", "").startswith("#"):
            self.own_links.append(attrs["href"][1:])
        if tag == "title":
            self.text = ""

    def handle_data(self, data):
        if self.text is not None:
            self.text += data

    def handle_endtag(self, tag):
        if tag == "title":
            self.title, self.text = " ".join(self.text.split()), None


def anchors(markdown):
    # Heading anchors as the usual Markdown renderers make them.
    found = set()
    for heading in re.findall(r"^#+ (.+)$", markdown, flags=re.M):
        slug = re.sub(r"[^\w\- ]", "", heading.lower()).replace(" ", "-")
        found.add(slug)
    return found


def check_links(markdown, where, exists):
    own = anchors(markdown)
    for target in links(markdown):
        if re.match(r"^[a-z]+:", target):
            continue
        path, _, anchor = target.partition("#")
        if not path and anchor not in own:
            failures.append(f"{where}: no heading for #{anchor}")
        elif path and not exists(path):
            failures.append(f"{where}: {path} is missing")


with zipfile.ZipFile(archive_path) as archive:
    names = archive.namelist()
    tops = {name.split("/", 1)[0] for name in names}
    top = tops.pop() + "/" if len(tops) == 1 else ""
    files = {name[len(top):] for name in names if not name.endswith("/")}
    print("archive:", ", ".join(sorted(files)))
    for needed in ("Tarnwick.exe", "guide.md", "guide.html"):
        if needed not in files:
            failures.append(f"archive: no {needed}")
    if "README.md" in files:
        failures.append("archive: holds the developers' README")
    if "guide.md" in files:
        guide = archive.read(top + "guide.md")
        with open(f"{root}/docs/guide.md", "rb") as source:
            if guide != source.read():
                failures.append("archive: guide.md differs from docs/guide.md")
        pictures = [t for t in links(guide.decode()) if t.endswith(".png")]
        if not pictures:
            failures.append("archive: the guide shows no pictures")
        check_links(guide.decode(), "guide.md in the archive", lambda path: posixpath.normpath(path) in files)
        if "guide.html" in files:
            page = Page(archive.read(top + "guide.html").decode())
            title = re.search(r"^# (.+)$", guide.decode(), flags=re.M).group(1)
            if page.title != title:
                failures.append(f"guide.html: title {page.title!r}, guide.md has {title!r}")
            # Every picture of the guide is on the page and in the archive, and
            # every '#' link of the page finds its heading's id.
            for picture in pictures:
                if picture not in page.pictures or posixpath.normpath(picture) not in files:
                    failures.append(f"guide.html: picture {picture} is not shown from inside the archive")
            for anchor in page.own_links:
                if anchor not in page.ids:
                    failures.append(f"guide.html: no heading id {anchor!r} for the link #{anchor}")

with open(f"{root}/README.md", encoding="utf-8") as readme:
    check_links(readme.read(), "README.md", lambda path: os.path.exists(os.path.join(root, path)))

for failure in failures:
    print("FAIL:", failure)
if not failures:
    print("ok: the archive holds Tarnwick.exe and the guide as guide.md and guide.html, and every link resolves")
sys.exit(1 if failures else 0)
EOF
