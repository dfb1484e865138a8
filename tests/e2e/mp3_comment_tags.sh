#!/usr/bin/env bash
# veldmix-tool tags write on MP3s whose comment other writers stored: FFmpeg's TXXX:comment frame
# in ID3v2.4 and v2.3, mutagen's COMM and TXXX frames, the tool's own earlier save, and an APE tag
# without ID3v2. An edit of another field and an edit of the comment must both save, and mutagen
# and ffprobe must then read exactly one comment (ID3v2, ID3v1 and APE agreeing) with its value.
# Cost: 41
set -u
tool="${VELDMIX_BUILD:?VELDMIX_BUILD must name the build folder}/veldmix-tool"
py=/usr/bin/python3  # the system's, which has python3-mutagen
for c in ffmpeg ffprobe "$py"; do command -v "$c" >/dev/null || { echo "FAIL: $c is not installed"; exit 1; }; done
"$py" -c 'import mutagen' 2>/dev/null || { echo "FAIL: python3-mutagen is not installed"; exit 1; }
work=$(mktemp -d /tmp/veldmix-e2e-mp3tags-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail=0
cd "$work" || exit 1

# comments.py FILE: every comment the file holds, one "where=value" a line.
cat >comments.py <<'EOF'
import sys
from mutagen.id3 import ID3, ID3NoHeaderError
from mutagen.apev2 import APEv2, APENoHeaderError
path = sys.argv[1]
try:
    tag = ID3(path, load_v1=False)
    for f in tag.getall("COMM"):
        for v in f.text:
            print(f"id3v2.{tag.version[1]}:COMM={v}")
    for f in tag.getall("TXXX"):
        if f.desc.lower() == "comment":
            for v in f.text:
                print(f"id3v2.{tag.version[1]}:TXXX={v}")
except ID3NoHeaderError:
    pass
with open(path, "rb") as fh:
    fh.seek(-128, 2)
    v1 = fh.read(128)
if v1[:3] == b"TAG":
    end = 125 if v1[125] == 0 and v1[126] != 0 else 127
    text = v1[97:end].split(b"\0")[0].decode("latin-1").rstrip()
    if text:
        print(f"id3v1={text}")
try:
    ape = APEv2(path)
    for k in ape.keys():
        if k.lower() == "comment":
            print(f"ape={ape[k]}")
except APENoHeaderError:
    pass
EOF
make_sine() { ffmpeg -v error -y -f lavfi -i sine=f=440:d=3 "$@"; }
mutagen_comment() {  # FILE FRAME(COMM|TXXX) V2VERSION: an ID3v2 comment of that frame, saved by mutagen
  "$py" - "$@" <<'EOF'
import sys
from mutagen.id3 import ID3, COMM, TXXX
path, frame, version = sys.argv[1], sys.argv[2], int(sys.argv[3])
tag = ID3(path)
tag.add(COMM(encoding=3 if version == 4 else 1, lang="eng", desc="", text="cmt") if frame == "COMM"
        else TXXX(encoding=3 if version == 4 else 1, desc="comment", text="cmt"))
tag.save(path, v2_version=version)
EOF
}

make_sine -metadata title=T -metadata comment=cmt -id3v2_version 4 ffmpeg_v24.mp3
make_sine -metadata title=T -metadata comment=cmt -id3v2_version 3 ffmpeg_v23.mp3
make_sine -metadata title=T mutagen_comm_v24.mp3 && mutagen_comment mutagen_comm_v24.mp3 COMM 4
make_sine -metadata title=T mutagen_comm_v23.mp3 && mutagen_comment mutagen_comm_v23.mp3 COMM 3
make_sine -metadata title=T mutagen_txxx_v23.mp3 && mutagen_comment mutagen_txxx_v23.mp3 TXXX 3
make_sine -metadata title=T taglib.mp3 && "$tool" tags write taglib.mp3 comment=cmt >/dev/null
make_sine -id3v2_version 0 ape.mp3 &&
  "$py" -c 'import sys; from mutagen.apev2 import APEv2; t = APEv2(); t["Title"] = "T"; t["Comment"] = "cmt"; t.save(sys.argv[1])' ape.mp3

# expect FILE VALUE STEP: one comment per tag the file has, all VALUE, and ffprobe agrees.
expect() {
  local file=$1 value=$2 step=$3 found where probed
  found=$("$py" comments.py "$file")
  where=$(echo "$found" | cut -d= -f1 | sed 's/:.*//')
  if [ -z "$found" ] || [ -n "$(echo "$where" | sort | uniq -d)" ] || [ -n "$(echo "$found" | grep -v "=$value\$")" ]; then
    echo "FAIL: $file after $step holds the comments: $(echo "$found" | tr '\n' ' ')(want one $value per tag)"
    fail=1
  fi
  # This FFmpeg reads no APE tag on an MP3: only ID3 comments are asked of it.
  [[ "$found" == *id3* ]] || return 0
  probed=$(ffprobe -v error -show_entries format_tags=comment -of default=nw=1:nk=1 "$file")
  [ "$probed" = "$value" ] || { echo "FAIL: ffprobe reads the comment of $file after $step as '$probed'"; fail=1; }
}
for f in ffmpeg_v24 ffmpeg_v23 mutagen_comm_v24 mutagen_comm_v23 mutagen_txxx_v23 taglib ape; do
  [ -f "$f.mp3" ] || { echo "FAIL: $f.mp3 was not made"; fail=1; continue; }
  expect "$f.mp3" cmt "its writer"
  "$tool" tags write "$f.mp3" "title=New title" 2>err || { echo "FAIL: a title edit of $f.mp3: $(cat err)"; fail=1; }
  expect "$f.mp3" cmt "a title edit"
  "$tool" tags write "$f.mp3" "comment=Nuevo ñ" 2>err || { echo "FAIL: a comment edit of $f.mp3: $(cat err)"; fail=1; }
  expect "$f.mp3" "Nuevo ñ" "a comment edit"
  title=$("$tool" tags read "$f.mp3" | sed -n 's/^title=//p')
  [ "$title" = "New title" ] || { echo "FAIL: $f.mp3 reads back the title '$title'"; fail=1; }
  [ ! -e "$f.mp3.tmp" ] || { echo "FAIL: $f.mp3 left its working copy"; fail=1; }
done

[ $fail -eq 0 ] && echo "PASS: MP3 comments from other writers"
exit $fail
