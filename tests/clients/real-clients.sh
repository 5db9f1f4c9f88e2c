#!/usr/bin/env bash
# Real clients against `velmora --headless`: curl and wget resume an interrupted download, wget
# mirrors a tree whose folders are linked without their slash, and headless Chromium follows a
# folder link, opens a file from the listing and seeks in a media file (which needs ranges).
# Usage: real-clients.sh VELMORA_BINARY. Talks to 127.0.0.1 only; every client is bounded in time;
# the server and the temporary folder are removed however the script ends.
set -uo pipefail

velmora=${1:?usage: real-clients.sh VELMORA_BINARY}
source "$(dirname "$0")/lib.sh"
clients_begin real-clients curl wget chromium cmp

# The published tree
pub=$work/pub
mkdir -p "$pub/big" "$pub/tree/a/b" "$pub/tree/日本語" "$pub/tree/sp ace" "$pub/tree/.hidden" "$pub/media"
head -c $((24 << 20)) /dev/urandom >"$pub/big/disk.img"
printf 'top\n' >"$pub/tree/top.txt"
printf 'in a\n' >"$pub/tree/a/one.txt"
head -c 100000 /dev/urandom >"$pub/tree/a/b/two.bin"
printf '日本語のテキスト\n' >"$pub/tree/日本語/三.txt"
printf 'space & more\n' >"$pub/tree/sp ace/x #1.txt"
printf 'raw name\n' >"$pub/tree/"$'\xff'".bin"
printf 'secret\n' >"$pub/tree/.hidden/key"
printf 'wrong file\n' >"$pub/one.txt"
cat >"$pub/tree/links.html" <<'EOF'
<html><body><a href="a">a</a> <a href="a/b">b</a> <a href="%E6%97%A5%E6%9C%AC%E8%AA%9E">jp</a>
<a href="sp%20ace">space</a> <a href="top.txt">top</a></body></html>
EOF

start_server
url=http://127.0.0.1:$port

# Resuming: a download cut off by its time limit, then continued.
curl_resumes() {
  local out=$work/curl-disk.img
  timeout 30 curl -s --limit-rate 2M --max-time 2 -o "$out" "$url/big/disk.img"
  local partial
  partial=$(stat -c %s "$out" 2>/dev/null || echo 0)
  [ "$partial" -gt 0 ] && [ "$partial" -lt $((24 << 20)) ] || { echo "curl: cut at $partial bytes"; return 1; }
  local code
  code=$(timeout 60 curl -s -C - -o "$out" -w '%{http_code}' "$url/big/disk.img")
  [ "$code" = 206 ] || { echo "curl: resumed with $code"; return 1; }
  cmp -s "$out" "$pub/big/disk.img"
}
check "curl -C - resumes an interrupted download byte for byte" curl_resumes

wget_resumes() {
  local dir=$work/wget-resume
  mkdir -p "$dir"
  timeout 2 wget -q --limit-rate=2m -P "$dir" "$url/big/disk.img"
  local partial
  partial=$(stat -c %s "$dir/disk.img" 2>/dev/null || echo 0)
  [ "$partial" -gt 0 ] && [ "$partial" -lt $((24 << 20)) ] || { echo "wget: cut at $partial bytes"; return 1; }
  timeout 60 wget -c -S -P "$dir" "$url/big/disk.img" 2>"$work/wget-resume.log" || return 1
  grep -q 'HTTP/1.1 206 Partial Content' "$work/wget-resume.log" || { cat "$work/wget-resume.log"; return 1; }
  cmp -s "$dir/disk.img" "$pub/big/disk.img"
}
check "wget -c resumes an interrupted download byte for byte" wget_resumes

# Mirroring: links.html names the folders without their "/", which the server redirects.
wget_mirrors() {
  local mirror=$work/mirror
  timeout 60 wget -q -r -np -nH -P "$mirror" "$url/tree/links.html" || return 1
  local file relative status=0
  while IFS= read -r -d '' file; do
    relative=${file#"$pub"/}
    case "$relative" in tree/.hidden/*) continue ;; esac
    cmp -s "$file" "$mirror/$relative" || { echo "wget -r: $relative differs or is missing"; status=1; }
  done < <(find "$pub/tree" -type f -print0)
  [ ! -e "$mirror/tree/.hidden" ] || { echo "wget -r: a hidden folder was served"; status=1; }
  [ ! -e "$mirror/one.txt" ] || { echo "wget -r: a link led out of its folder"; status=1; }
  return $status
}
check "wget -r -np mirrors a tree linked without slashes byte for byte" wget_mirrors

# Headless Chromium, with a profile of its own and no traffic but to the server.
chromium_dom() {  # chromium_dom PAGE_URL NETLOG: prints the page's DOM once it has settled
  rm -rf "$work/profile"
  timeout 90 chromium --headless=new --no-sandbox --disable-gpu --disable-background-networking \
    --disable-component-update --disable-sync --no-first-run --user-data-dir="$work/profile" \
    --log-net-log="$2" --virtual-time-budget=10000 --dump-dom "$1" 2>/dev/null
}

# The frame opens the folder by a URL without its slash, then clicks the file's link in the
# listing it lands on; the page reports where each step ended and what the file held.
cat >"$pub/browse.html" <<'EOF'
<!DOCTYPE html><html><body><pre id="out">pending</pre><iframe id="f" src="/tree/a"></iframe>
<script>
const frame = document.getElementById('f'), out = document.getElementById('out');
let step = 0;
frame.onload = () => {
  const page = frame.contentDocument;
  if (step++ === 0) {
    out.textContent = 'listing ' + frame.contentWindow.location.pathname;
    const link = [...page.querySelectorAll('a')].find(a => a.textContent === 'one.txt');
    if (link) link.click(); else out.textContent += '\nno link';
  } else {
    out.textContent += '\nfile ' + frame.contentWindow.location.pathname + ' ' + page.body.textContent.trim();
  }
};
</script></body></html>
EOF
chromium_follows_links() {
  local dom
  dom=$(chromium_dom "$url/browse.html" "$work/browse-netlog.json")
  grep -q 'listing /tree/a/' <<<"$dom" && grep -q 'file /tree/a/one.txt in a' <<<"$dom" || { echo "$dom"; return 1; }
}
check "Chromium opens a folder without its slash and follows a file link to the right file" chromium_follows_links

# Four seconds of 8 kHz 8-bit mono sound as a WAV file, made here without an encoder: the RIFF
# size 36 + 32000, a PCM format block, and 32000 samples.
{
  printf 'RIFF\x24\x7d\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x40\x1f\x00\x00'
  printf '\x40\x1f\x00\x00\x01\x00\x08\x00data\x00\x7d\x00\x00'
  head -c 32000 /dev/urandom
} >"$pub/media/clip.wav"
cat >"$pub/media/player.html" <<'EOF'
<!DOCTYPE html><html><body><pre id="out">pending</pre>
<video id="v" src="clip.wav" preload="auto" muted></video>
<script>
const video = document.getElementById('v'), out = document.getElementById('out');
video.addEventListener('loadedmetadata', () => {
  out.textContent = 'seekable ' + (video.seekable.length ? video.seekable.end(0) : 'none') + ' of ' + video.duration;
  video.currentTime = video.duration * 0.9;
});
video.addEventListener('seeked', () => { out.textContent += '\nseeked ' + video.currentTime.toFixed(1); });
video.addEventListener('error', () => { out.textContent += '\nerror ' + video.error.code; });
</script></body></html>
EOF
chromium_seeks() {
  local dom netlog=$work/player-netlog.json
  dom=$(chromium_dom "$url/media/player.html" "$netlog")
  grep -q 'seekable 4 of 4' <<<"$dom" && grep -q 'seeked 3.6' <<<"$dom" || { echo "$dom"; return 1; }
  # The player asked for a range and got a part: the request and answer heads in Chromium's log.
  grep -q '"Range: bytes=' "$netlog" || { echo "Chromium asked for no range"; return 1; }
  grep -q '"HTTP/1.1 206 Partial Content"' "$netlog" || { echo "no 206 answer reached Chromium"; return 1; }
}
check "Chromium's player asks for a range, gets 206 and seeks" chromium_seeks

clients_end
