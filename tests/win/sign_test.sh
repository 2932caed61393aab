#!/usr/bin/env bash
# Signs the launcher with a throwaway self-signed certificate through
# scripts/sign, and checks the signature. The signed copy is what the
# end-to-end tests then run.
#   sign_test.sh UNSIGNED.exe SIGNED.exe
set -euo pipefail
unsigned=$1
signed=$2
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=Pelterin test signer" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/signer.pfx" \
  -passout pass:throwaway-password

rm -f "$signed"
# No time-stamp server can be reached here.
PELTERIN_SIGN_PFX=$work/signer.pfx PELTERIN_SIGN_PASSWORD=throwaway-password \
  PELTERIN_TIMESTAMP_URL=none "$here/scripts/sign" "$unsigned" "$signed"

osslsigncode verify -CAfile "$work/cert.pem" -in "$signed" > "$work/verify.txt" 2>&1 \
  || { cat "$work/verify.txt"; echo "FAIL: the signature does not verify"; exit 1; }
grep -q "Signature verification: ok" "$work/verify.txt" \
  || { cat "$work/verify.txt"; echo "FAIL: no verified signature"; exit 1; }

# A wrong password, or no time-stamp server named, must fail, not produce an
# unsigned, half-written or soon invalid file.
for case in "PELTERIN_SIGN_PASSWORD=wrong PELTERIN_TIMESTAMP_URL=none" \
            "PELTERIN_SIGN_PASSWORD=throwaway-password"; do
  if env -u PELTERIN_TIMESTAMP_URL $case PELTERIN_SIGN_PFX="$work/signer.pfx" \
       "$here/scripts/sign" "$unsigned" "$work/bad.exe" >/dev/null 2>&1; then
    echo "FAIL: signing with $case succeeded"; exit 1
  fi
  [ ! -e "$work/bad.exe" ] || { echo "FAIL: signing with $case left an output file"; exit 1; }
done
echo "signed and verified: $signed"
