#!/usr/bin/env bash
# Checks the user manual as it ships: valid UTF-8, one self-contained HTML file (no scripts, no
# style sheets or pictures from elsewhere), every element closed, every link of the table of
# contents leading to a section that exists, the sections and the program's own texts a user
# looks for, and the copy beside the programs in the build tree the same as the source.
# usage: manual_test.sh SOURCE/ReadMe.html [BUILT/ReadMe.html]
set -euo pipefail
src="$1"
built="${2:-}"

if [ -n "$built" ] && ! cmp -s "$src" "$built"; then
  echo "FAIL: $built is not a copy of $src (build again to copy it beside the programs)"
  exit 1
fi

python3 - "$src" <<'EOF'
import re
import sys
from html.parser import HTMLParser

path = sys.argv[1]
raw = open(path, "rb").read()
try:
    text = raw.decode("utf-8", errors="strict")
except UnicodeDecodeError as e:
    sys.exit(f"FAIL: {path} is not valid UTF-8 at byte {e.start}")

VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "track", "wbr"}
problems = []


class Manual(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack, self.ids, self.links, self.charset = [], [], [], False

    def where(self):
        return f"line {self.getpos()[0]}"

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "meta" and (a.get("charset") or "").lower() == "utf-8":
            self.charset = True
        if tag in ("script", "link", "iframe", "object", "embed"):
            problems.append(f"{self.where()}: <{tag}> (the manual must be self-contained)")
        if "id" in a:
            self.ids.append(a["id"])
        for name in ("href", "src"):
            v = a.get(name)
            if v is None:
                continue
            if name == "href":
                if not v.startswith("#"):
                    problems.append(f"{self.where()}: link to {v!r} (only links inside the manual)")
                else:
                    self.links.append((v[1:], self.where()))
            elif "/" in v or ":" in v:
                problems.append(f"{self.where()}: picture {v!r} (only files beside the manual)")
        if tag not in VOID:
            self.stack.append((tag, self.where()))

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)
        if tag not in VOID:
            self.stack.pop()

    def handle_endtag(self, tag):
        if not self.stack or self.stack[-1][0] != tag:
            open_tag = self.stack[-1] if self.stack else ("nothing", "")
            problems.append(f"{self.where()}: </{tag}> closes <{open_tag[0]}> of {open_tag[1]}")
            return
        self.stack.pop()


m = Manual()
m.feed(text)
m.close()
problems += [f"{where}: <{tag}> never closed" for tag, where in m.stack]
if not text.lstrip().lower().startswith("<!doctype html>"):
    problems.append("does not begin with <!DOCTYPE html>")
if not m.charset:
    problems.append('no <meta charset="utf-8">')
if re.search(r"url\(|@import", text):
    problems.append("the style sheet loads something from elsewhere")
dup = sorted({i for i in m.ids if m.ids.count(i) > 1})
if dup:
    problems.append(f"ids used twice: {dup}")
for target, where in m.links:
    if target not in m.ids:
        problems.append(f"{where}: link to #{target}, which no section has")

sections = ["intro", "install", "workflow", "screen", "mouse", "keys", "rules", "settings",
            "tools", "files", "cli", "faq"]
toc = {t for t, _ in m.links}
for s in sections:
    if s not in m.ids:
        problems.append(f"no section #{s}")
    if s not in toc:
        problems.append(f"the table of contents does not lead to #{s}")

# The program's own captions and messages, as the user sees them.
for phrase in [
    "选择电影", "已就绪", "检查视频文件……", "等待WAV生成……",
    "变调", "跳跃", "只播放对白", "只播放首尾", "循环", "磁石", "精校", "粗校",
    "撤销调整、回避冲突；", "当前轴优先、其它轴避让；", "其它轴优先、当前轴避让；", "相互适应、协同避让；",
    "常用选项", "键盘鼠标", "约束规则", "性能优化", "平缓的变速区", "中央区x1播放",
    "自动对齐", "转换帧率", "导入导出、转换格式", "瞬间对齐", "重装修订TXT",
    "没有可用的声音输出设备（…），将无声播放。", "RuziRudoDudiro.ini", "tamsel --demo", "tamsel-cli",
    "<!-- screenshot: start screen -->", "<!-- screenshot: editing screen -->",
]:
    if phrase not in text:
        problems.append(f"does not contain {phrase!r}")

if problems:
    print(f"FAIL: {path}")
    print("\n".join("  " + p for p in problems))
    sys.exit(1)
print(f"ok: {path}: {len(m.ids)} sections and anchors, {len(m.links)} links")
EOF
