#!/usr/bin/env bash
# Signing the Windows launchers as tools/package does (tools/sign-windows), with a throwaway
# self-signed certificate made here: the signature verifies against that certificate, the
# same file signed twice gives the same bytes, and the signed program still runs.
# Arguments: the source directory, the Wine runner (empty: no run), the executables.
# Exits 77 (skipped) without osslsigncode or openssl.
set -euo pipefail
source_dir=$1
emulator=$2
shift 2

for tool in osslsigncode openssl; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIPPED: $tool is not installed (apt-get install $tool)"
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
    -days 2 -subj "/CN=se_javac test signer" -addext "extendedKeyUsage=codeSigning" \
    2>"$work/openssl.log" || { cat "$work/openssl.log"; fail "openssl req"; }
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.p12" \
    -passout pass:'pass word' || fail "openssl pkcs12"
sign() {
    SE_SIGN_PKCS12="$work/cert.p12" SE_SIGN_PASSWORD='pass word' SOURCE_DATE_EPOCH=1700000000 \
        "$source_dir/tools/sign-windows" "$@" >/dev/null
}

# Half a configuration is refused and changes nothing.
first=$1
cp "$first" "$work/unsigned.exe"
if SE_SIGN_PKCS12="$work/cert.p12" "$source_dir/tools/sign-windows" "$work/unsigned.exe" \
    2>/dev/null; then
    fail "signed without a password"
fi
cmp -s "$first" "$work/unsigned.exe" || fail "a refused signing changed the file"
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/unsigned.exe" >/dev/null 2>&1 &&
    fail "an unsigned executable verified"

# All files in one call, as tools/package signs them, and each again on its own.
mkdir -p "$work/1" "$work/2"
cp "$@" "$work/1/"
cp "$@" "$work/2/"
sign "$work/1/"*
for exe in "$@"; do
    name=$(basename "$exe")
    sign "$work/2/$name"
    osslsigncode verify -CAfile "$work/cert.pem" -in "$work/1/$name" >"$work/verify.log" 2>&1 ||
        { cat "$work/verify.log"; fail "$name does not verify"; }
    grep -q "Subject: /CN=se_javac test signer" "$work/verify.log" ||
        fail "$name is not signed by the test certificate"
    cmp -s "$work/1/$name" "$work/2/$name" || fail "$name signed twice differs"
    if [[ -n $emulator ]]; then
        # The monitor mode with numbers that are no handles ends at once with exit code 0.
        "$emulator" "$work/1/$name" -monitor x y || fail "the signed $name does not run"
    fi
    echo "$name: signed, verified against the test certificate, runs"
done
