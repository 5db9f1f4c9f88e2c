#!/usr/bin/env bash
# Folder downloads against real archive tools: `velmora --headless` answers folders as zip and
# tar, and unzip, 7z, bsdtar, GNU tar and Python's zipfile and tarfile must all read them: names
# in Japanese, emoji and decomposed Unicode with an empty folder, 70,000 small files, a 5 GiB
# sparse file, and hidden folders that must stay out. Then resuming: a download cut short and
# continued with curl is the same archive, If-Range after a change gives the whole new one, and a
# file that grows while it is sent ends the connection short.
# Usage: archives.sh VELMORA_BINARY. Talks to 127.0.0.1 only; every client is bounded in time;
# the server and the temporary folder are removed however the script ends.
set -uo pipefail

velmora=${1:?usage: archives.sh VELMORA_BINARY}
source "$(dirname "$0")/lib.sh"
clients_begin archives curl unzip 7z bsdtar tar python3 sha256sum diff truncate

# The published folders
pub=$work/pub
names=$pub/names
mkdir -p "$names/日本語の写真" "$names/empty" "$names/e$(printf '\xcc\x81')t$(printf '\xc3\xa9')"
echo "japanese" >"$names/日本語の写真/富士山.txt"
echo "emoji" >"$names/日本語の写真/🎉🐱.txt"
echo "decomposed" >"$names/e$(printf '\xcc\x81')t$(printf '\xc3\xa9')/cafe$(printf '\xcc\x81').txt"
head -c 300000 /dev/urandom >"$names/random.bin"
mkdir -p "$pub/hidden/.git/objects" "$pub/hidden/shown/.cache"
echo "secret" >"$pub/hidden/.git/config"
echo "secret" >"$pub/hidden/shown/.cache/token"
echo "secret" >"$pub/hidden/.env"
echo "shown" >"$pub/hidden/shown/file.txt"
python3 - "$pub/many" <<'PY'
import os, sys
for folder in range(70):
    path = os.path.join(sys.argv[1], "f%02d" % folder)
    os.makedirs(path)
    for n in range(1000):
        with open(os.path.join(path, "%04d.txt" % n), "w") as f:
            f.write("%d/%d\n" % (folder, n))
PY
mkdir -p "$pub/big" && truncate -s 5G "$pub/big/zeros.bin"
mkdir -p "$pub/resume/sub" && head -c 3000000 /dev/urandom >"$pub/resume/a.bin"
head -c 1000000 /dev/urandom >"$pub/resume/sub/b.bin"
mkdir -p "$pub/grow" && head -c 16000000 /dev/urandom >"$pub/grow/x.bin" && cp "$pub/grow/x.bin" "$pub/grow/y.bin"

server_env=(LC_ALL=C TZ=UTC XDG_CACHE_HOME="$work/cache")
start_server
url=http://127.0.0.1:$port
fetch() { curl -sS --max-time 60 "$@"; }
quiet() { "$@" >/dev/null; }

# Whether the archive file holds exactly the names listed after it (folders with a "/").
python_names() {  # python_names zip|tar FILE NAME...
  python3 - "$@" <<'PY'
import sys, tarfile, zipfile
kind, path, expected = sys.argv[1], sys.argv[2], set(sys.argv[3:])
if kind == "zip":
    with zipfile.ZipFile(path) as z:
        if z.testzip() is not None: sys.exit("bad CRC")
        found = {i.filename for i in z.infolist()}
else:
    with tarfile.open(path) as t:
        found = {m.name + ("/" if m.isdir() else "") for m in t.getmembers()}
        for m in t.getmembers():
            if m.isfile(): t.extractfile(m).read()
if found != expected: sys.exit("expected %s, found %s" % (sorted(expected), sorted(found)))
PY
}

section() { echo "-- $1 ($SECONDS s)"; }
section "names, and an empty folder"
expected=(names/ names/empty/ names/random.bin "names/日本語の写真/" "names/日本語の写真/富士山.txt"
  "names/日本語の写真/🎉🐱.txt" "names/e$(printf '\xcc\x81')t$(printf '\xc3\xa9')/"
  "names/e$(printf '\xcc\x81')t$(printf '\xc3\xa9')/cafe$(printf '\xcc\x81').txt")
fetch -o "$work/names.zip" "$url/names/?zip"
fetch -o "$work/names.tar" "$url/names/?tar"
check "zip: unzip -t" quiet unzip -tq "$work/names.zip"
check "zip: 7z t" 7z t -bso0 -bsp0 "$work/names.zip"
check "zip: bsdtar -tvf" quiet bsdtar -tvf "$work/names.zip"
check "zip: zipfile names" python_names zip "$work/names.zip" "${expected[@]}"
check "tar: tar -tvf" quiet tar -tvf "$work/names.tar"
check "tar: bsdtar -tvf" quiet bsdtar -tvf "$work/names.tar"
check "tar: 7z t" 7z t -bso0 -bsp0 "$work/names.tar"
check "tar: tarfile names" python_names tar "$work/names.tar" "${expected[@]}"
mkdir -p "$work/x-tar" "$work/x-zip"
check "tar: extracted equals the folder" bash -c "tar -xf '$work/names.tar' -C '$work/x-tar' && diff -r '$names' '$work/x-tar/names'"
check "zip: extracted equals the folder" bash -c "unzip -q '$work/names.zip' -d '$work/x-zip' && diff -r '$names' '$work/x-zip/names'"
check "download is named after the folder" bash -c \
  "curl -sSI '$url/names/?zip' | grep -qi '^Content-Disposition: attachment; filename=\"names.zip\"'"
check "a non-ASCII name goes as UTF-8 beside an ASCII stand-in" bash -c \
  "curl -sSI '$url/names/%E6%97%A5%E6%9C%AC%E8%AA%9E%E3%81%AE%E5%86%99%E7%9C%9F/?tar' | tr -d '\r' | grep -qx \
  \"Content-Disposition: attachment; filename=\\\"_*\\.tar\\\"; filename\\*=UTF-8''%E6%97%A5%E6%9C%AC%E8%AA%9E%E3%81%AE%E5%86%99%E7%9C%9F\\.tar\""

section hidden
# Hidden folders: left out with everything in them
fetch -o "$work/hidden.zip" "$url/hidden/?zip"
fetch -o "$work/hidden.tar" "$url/hidden/?tar"
check "hidden: zip holds nothing hidden" python_names zip "$work/hidden.zip" hidden/ hidden/shown/ hidden/shown/file.txt
check "hidden: tar holds nothing hidden" python_names tar "$work/hidden.tar" hidden/ hidden/shown/ hidden/shown/file.txt
check "hidden: a hidden folder's archive is not found" \
  bash -c "[ \"\$(curl -s -o /dev/null -w '%{http_code}' '$url/hidden/.git/?zip')\" = 404 ]"

section many
# 70,000 entries: past what a zip without zip64 can count
fetch -o "$work/many.zip" "$url/many/?zip"
fetch -o "$work/many.tar" "$url/many/?tar"
check "many: unzip -t" quiet unzip -tq "$work/many.zip"
check "many: zip counts 70,071 entries" bash -c "[ \"\$(bsdtar -tf '$work/many.zip' | wc -l)\" = 70071 ]"
check "many: tar counts 70,071 entries" bash -c "[ \"\$(tar -tf '$work/many.tar' | wc -l)\" = 70071 ]"

section big
# 5 GiB of zeros: the zip sent whole within a time bound, its checksum taken at memory speed
# (the tar goes out through the same file transmit call as any file); both read back from their
# first and last bytes put around a hole, which holds exactly the zeros sent (nothing of them
# kept on disk)
big_check() {  # big_check zip|tar whole|ends
  local started=$SECONDS sent size file=$work/big.$1
  size=$(curl -sSI "$url/big/?$1" | tr -d '\r' | sed -n 's/^Content-Length: //Ip')
  if [ "$2" = whole ]; then
    # Well under a minute on an idle machine; the bound only catches a hang, and leaves room for a
    # machine busy with sanitized builds and other tests.
    sent=$(curl -sS --max-time 400 -o /dev/null -w '%{size_download}' "$url/big/?$1") || return 1
    echo "  big $1: $sent bytes in $((SECONDS - started)) s"
    [ "$sent" = "$size" ] || return 1
  fi
  truncate -s "$size" "$file"
  fetch -r 0-65535 "$url/big/?$1" | dd of="$file" conv=notrunc status=none
  fetch -r "$((size - 65536))-" "$url/big/?$1" | dd of="$file" seek=$((size - 65536)) oflag=seek_bytes conv=notrunc status=none
  python3 - "$1" "$file" <<'PY'
import sys, tarfile, zipfile
kind, path = sys.argv[1], sys.argv[2]
if kind == "zip":
    sizes = {i.filename: i.file_size for i in zipfile.ZipFile(path).infolist()}
else:
    sizes = {m.name: m.size for m in tarfile.open(path).getmembers()}
sys.exit(sizes.get("big/zeros.bin") != 5 << 30)
PY
  [ "$?" = 0 ] && [ $((SECONDS - started)) -lt 400 ]
}
check "big: tar of 5 GiB" big_check tar ends
check "big: zip of 5 GiB" big_check zip whole
check "big: zip ends in zip64 end records" bash -c \
  "curl -sS -r -200 '$url/big/?zip' | od -An -tx1 | tr -d ' \n' | grep -q 504b0606"

section resume
# Resuming: cut at about 37 %, continued with curl -C -
resume_check() {  # resume_check zip|tar
  local full=$work/resume-full.$1 part=$work/resume-part.$1 size
  fetch -o "$full" "$url/resume/?$1" || return 1
  size=$(stat -c %s "$full")
  fetch -r "0-$((size * 37 / 100))" -o "$part" "$url/resume/?$1" || return 1
  fetch -C - -o "$part" "$url/resume/?$1" || return 1
  [ "$(sha256sum <"$full")" = "$(sha256sum <"$part")" ]
}
check "resume: zip continues byte for byte" resume_check zip
check "resume: tar continues byte for byte" resume_check tar

# If-Range with the tag of before a change: the whole new archive, never a splice
if_range_check() {  # if_range_check zip|tar
  local tag status
  tag=$(curl -sSI "$url/resume/?$1" | tr -d '\r' | sed -n 's/^ETag: //Ip')
  [ -n "$tag" ] || return 1
  status=$(curl -s -o /dev/null -w '%{http_code}' -H "If-Range: $tag" -r 100- "$url/resume/?$1")
  [ "$status" = 206 ] || return 1
  touch -d "@$(( $(stat -c %Y "$pub/resume/sub/b.bin") - 3600 ))" "$pub/resume/sub/b.bin"
  fetch -o "$work/after-change.$1" -H "If-Range: $tag" -r 100- -w '%{http_code}' "$url/resume/?$1" >"$work/status" || return 1
  fetch -o "$work/new.$1" "$url/resume/?$1" || return 1
  [ "$(cat "$work/status")" = 200 ] && cmp -s "$work/after-change.$1" "$work/new.$1"
}
check "If-Range: zip after a change is the whole new archive" if_range_check zip
check "If-Range: tar after a change is the whole new archive" if_range_check tar

# A file that grows while the archive is sent: the answer ends short and the log names the file
grow_check() {
  curl -s --max-time 60 --limit-rate 4M -o "$work/grow.tar" "$url/grow/?tar" &
  local client=$!
  sleep 1
  echo "more" >>"$pub/grow/x.bin"
  echo "more" >>"$pub/grow/y.bin"
  wait "$client"
  local code=$?
  [ "$code" = 18 ] && grep -q 'EIdFileChanged.*grow/' "$work/server.log"
}
check "a file grown during the send closes the connection" grow_check

clients_end
