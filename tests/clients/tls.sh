#!/usr/bin/env bash
# HTTPS with real clients: `velmora --headless --tls` makes its certificate authority, curl
# verifies the server against it alone, openssl shows TLS 1.3, the chain and the certificates'
# fields, plain requests are redirected, /?ca answers the authority on both, a range and an
# archive over TLS equal the plain ones, a second start keeps the certificate, the operator's
# own files work and bad ones stop the start, and Chromium with the authority in a throwaway NSS
# database loads a page without a certificate error.
# Usage: tls.sh VELMORA_BINARY. Talks to 127.0.0.1 only; every client is bounded in time; the
# server and the temporary folder are removed however the script ends.
set -uo pipefail

velmora=${1:?usage: tls.sh VELMORA_BINARY}
source "$(dirname "$0")/lib.sh"
clients_begin tls curl openssl certutil chromium cmp grep sha256sum

pub=$work/pub
mkdir -p "$pub/folder/sub"
echo "hello over tls" >"$pub/hello.txt"
head -c 2500000 /dev/urandom >"$pub/folder/random.bin"
echo "inside" >"$pub/folder/sub/inside.txt"
tls_dir=$work/data/velmora/tls
server_env=(LC_ALL=C TZ=UTC XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache")
fetch() { curl -sS --max-time 30 "$@"; }
secure() { fetch --cacert "$tls_dir/ca.crt" "$@"; }
s_client() { timeout 10 openssl s_client -connect "127.0.0.1:$port" -CAfile "$tls_dir/ca.crt" "$@" </dev/null 2>&1; }
# A whole request, read to the server's close: the session tickets come after the handshake.
s_request() {
  printf 'GET /hello.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n' |
    timeout 10 openssl s_client -ign_eof -connect "127.0.0.1:$port" -CAfile "$tls_dir/ca.crt" "$@" 2>&1
}
# The address lines follow the start line: wait for the last of them.
start_tls_server() {
  start_server "$@"
  for _ in $(seq 1 50); do
    grep -q '/?ca$' "$work/server.log" && return 0
    sleep 0.1
  done
}

start_tls_server --tls
https=https://127.0.0.1:$port
http=http://127.0.0.1:$port

# The authority, its fingerprint as the start lines print it, and the files' modes
fingerprint=$(openssl x509 -in "$tls_dir/ca.crt" -noout -fingerprint -sha256 | cut -d= -f2)
check "start lines give the authority's fingerprint" grep -qx "CA SHA-256: $fingerprint" "$work/server.log"
check "start lines give the plain /?ca address" grep -qE "^http://[0-9.]+:$port/\?ca$" "$work/server.log"
check "start lines give https addresses" grep -qE "^https://[0-9.]+:$port/\?browse$" "$work/server.log"
check "keys are 0600, the folder 0700" test "$(stat -c %a "$tls_dir" "$tls_dir/ca.key" "$tls_dir/server.key" | tr '\n' ' ')" = "700 600 600 "

# curl verifies without -k
check "curl --cacert fetches a file over TLS" test "$(secure "$https/hello.txt")" = "hello over tls"
check "the same curl without the authority refuses" bash -c "! curl -sS --max-time 10 '$https/hello.txt' >/dev/null 2>&1"

# openssl: TLS 1.3, the chain of two, ALPN, TLS 1.2 still, older refused, resumption
handshake=$(s_client -alpn http/1.1 -showcerts)
check "s_client negotiates TLSv1.3" grep -q "^New, TLSv1.3," <<<"$handshake"
check "s_client verifies the chain" grep -q "Verify return code: 0 (ok)" <<<"$handshake"
check "the chain is the server, then the authority" test "$(grep -c -- '-----BEGIN CERTIFICATE-----' <<<"$handshake")" = 2
check "ALPN picks http/1.1" grep -q "ALPN protocol: http/1.1" <<<"$handshake"
check "TLS 1.2 is served" grep -q "^New, TLSv1.2," <<<"$(s_client -tls1_2)"
check "TLS 1.1 is refused" bash -c "! timeout 10 openssl s_client -connect 127.0.0.1:$port -tls1_1 -cipher DEFAULT@SECLEVEL=0 </dev/null >/dev/null 2>&1"
s_request -sess_out "$work/session.pem" >/dev/null
check "a second connection resumes the session" grep -q "^Reused," <<<"$(s_request -sess_in "$work/session.pem")"

# The certificates' fields
check "openssl verify accepts the server certificate" openssl verify -CAfile "$tls_dir/ca.crt" "$tls_dir/server.crt"
ca_text=$(openssl x509 -in "$tls_dir/ca.crt" -noout -text)
server_text=$(openssl x509 -in "$tls_dir/server.crt" -noout -text)
check "the authority is a critical CA:TRUE" grep -A1 "Basic Constraints: critical" <<<"$ca_text" -q
check "the authority signs certificates and CRLs" grep -q "Certificate Sign, CRL Sign" <<<"$ca_text"
check "the authority has both key identifiers" bash -c "grep -q 'Subject Key Identifier' <<<\"\$1\" && grep -q 'Authority Key Identifier' <<<\"\$1\"" _ "$ca_text"
check "the server certificate is no CA" grep -q "CA:FALSE" <<<"$server_text"
check "the server certificate is for TLS servers" grep -q "TLS Web Server Authentication" <<<"$server_text"
check "the server certificate names localhost and 127.0.0.1" bash -c "grep -q 'DNS:localhost' <<<\"\$1\" && grep -q 'IP Address:127.0.0.1' <<<\"\$1\"" _ "$server_text"
check "both keys are ECDSA P-256 signed with SHA-256" test "$(grep -c -e 'ASN1 OID: prime256v1' -e 'Signature Algorithm: ecdsa-with-SHA256' <<<"$ca_text$server_text")" -ge 6
days=$(( ($(date -d "$(openssl x509 -in "$tls_dir/server.crt" -noout -enddate | cut -d= -f2)" +%s) - $(date +%s)) / 86400 ))
check "the server certificate lasts at most 825 days" test "$days" -le 825 -a "$days" -ge 820

# Plain HTTP on the same port
check "a plain request is redirected to https, target and Host kept" \
  test "$(fetch -o /dev/null -w '%{http_code} %{redirect_url}' "$http/folder/sub/inside.txt?x=1")" = "301 https://127.0.0.1:$port/folder/sub/inside.txt?x=1"
check "curl follows the redirect to the file" test "$(secure -L "$http/hello.txt")" = "hello over tls"
check "a folder's slash redirect over TLS stays on https" \
  test "$(secure -o /dev/null -w '%{http_code} %{redirect_url}' "$https/folder/sub")" = "301 https://127.0.0.1:$port/folder/sub/"
openssl x509 -in "$tls_dir/ca.crt" -outform DER -out "$work/ca.der"
check "/?ca answers the authority over plain HTTP" cmp -s <(fetch "$http/?ca") "$work/ca.der"
check "/?ca answers the authority over TLS" cmp -s <(secure "$https/?ca") "$work/ca.der"
check "the fingerprint is the SHA-256 of what /?ca answers" \
  test "$(fetch "$http/?ca" | sha256sum | cut -d' ' -f1)" = "$(tr -d : <<<"$fingerprint" | tr A-F a-f)"
check "/?ca is application/x-x509-ca-cert" grep -qi "^content-type: application/x-x509-ca-cert" <<<"$(fetch -sI "$http/?ca")"

# Answers over TLS
secure -r 1000-1999999 "$https/folder/random.bin" >"$work/range.tls"
secure "$https/folder/?tar" >"$work/folder.tls.tar"
secure "$https/folder/?zip" >"$work/folder.tls.zip"
check "a whole file over TLS is the file" cmp -s <(secure "$https/folder/random.bin") "$pub/folder/random.bin"
check "a range over TLS is its part of the file" cmp -s "$work/range.tls" <(tail -c +1001 "$pub/folder/random.bin" | head -c 1999000)
check "two requests share one TLS connection" grep -q "Re-using existing connection" <<<"$(secure -v "$https/hello.txt" "$https/hello.txt" 2>&1 >/dev/null)"

# Headless Chromium trusts the authority from a throwaway NSS database
export HOME=$work/home
mkdir -p "$HOME/.pki/nssdb"
certutil -d "sql:$HOME/.pki/nssdb" -N --empty-password
certutil -d "sql:$HOME/.pki/nssdb" -A -n velmora-test -t "C,," -i "$tls_dir/ca.crt"
dom=$(timeout 90 chromium --headless=new --no-sandbox --disable-gpu --disable-background-networking \
  --disable-component-update --disable-sync --no-first-run --user-data-dir="$work/profile" \
  --virtual-time-budget=5000 --dump-dom "$https/folder/" 2>"$work/chromium.log")
check "Chromium loads the listing over HTTPS without a certificate error" grep -q "random.bin" <<<"$dom"
stop_server

# A second start: the same authority and the same server certificate
cp "$tls_dir/server.crt" "$work/server-before.crt"
start_tls_server --tls --user ann --password secret
check "a second start keeps the server certificate" cmp -s "$tls_dir/server.crt" "$work/server-before.crt"
check "a second start prints the same fingerprint" grep -qx "CA SHA-256: $fingerprint" "$work/server.log"
# Phones fetch the authority before they can log in: it needs no password, files still do.
check "with a password /?ca still answers without one" cmp -s <(fetch "http://127.0.0.1:$port/?ca") "$work/ca.der"
check "with a password a file still asks for it" \
  test "$(secure -o /dev/null -w '%{http_code}' "https://127.0.0.1:$port/hello.txt")" = 401
stop_server

# The same answers over plain HTTP, from a server without TLS
start_server
http=http://127.0.0.1:$port
check "a range is the same over plain HTTP" cmp -s "$work/range.tls" <(fetch -r 1000-1999999 "$http/folder/random.bin")
check "a tar archive is the same over plain HTTP" cmp -s "$work/folder.tls.tar" <(fetch "$http/folder/?tar")
check "a zip archive is the same over plain HTTP" cmp -s "$work/folder.tls.zip" <(fetch "$http/folder/?zip")
check "without TLS there is no /?ca route" bash -c "! cmp -s <(curl -sS --max-time 10 '$http/?ca') '$work/ca.der'"
stop_server

# The operator's own certificate and key; bad files stop the start with a clear reason
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30 -subj /CN=own \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$work/own.key" -out "$work/own.crt" 2>/dev/null
start_server --tls-cert "$work/own.crt" --tls-key "$work/own.key"
own=$(fetch --cacert "$work/own.crt" "https://127.0.0.1:$port/hello.txt" 2>&1)
check "the operator's own certificate is served" test "$own" = "hello over tls" || echo "$own"
check "with an own certificate no fingerprint is printed" bash -c "! grep -q 'CA SHA-256' '$work/server.log'"
stop_server
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/other.key" 2>/dev/null
refused() {  # refused TEXT ARGS...: the start fails with exit 1 and TEXT on standard error
  local text=$1
  shift
  timeout 20 "$velmora" --headless --port 1 "$@" "$pub" >/dev/null 2>"$work/refused.err"
  [ $? -eq 1 ] && grep -q "HTTPS を開始できません: .*$text" "$work/refused.err" && grep -q "cannot start HTTPS: .*$text" "$work/refused.err"
}
check "a key of another certificate is refused" refused "does not belong" --tls-cert "$work/own.crt" --tls-key "$work/other.key"
check "an unreadable certificate file is refused" refused "cannot read $work/missing.crt" --tls-cert "$work/missing.crt" --tls-key "$work/own.key"
check "a file without a certificate is refused" refused "no certificate" --tls-cert "$work/own.key" --tls-key "$work/own.key"

clients_end
