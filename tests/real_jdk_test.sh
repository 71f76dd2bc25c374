#!/usr/bin/env bash
# The launcher with this machine's real JDK and the example tool: compiles a program through
# se_javac and runs it, and checks that the configured properties reach the tool.
# Exits 77 (skipped) where no JDK is installed.
set -euo pipefail
launcher=$1
source_dir=$2

javac_path=$(command -v javac || true)
if [[ -z $javac_path ]]; then
    echo "SKIPPED: no JDK on this machine (javac not found on PATH)"
    exit 77
fi
jdk=$(dirname "$(dirname "$(readlink -f "$javac_path")")")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tool-classes" "$work/install dir" "$work/out"
"$jdk/bin/javac" -d "$work/tool-classes" \
    "$source_dir/examples/tool/src/fenmoor/zandrel/se/java/toJava/Main.java"
"$jdk/bin/jar" cf "$work/tool.jar" -C "$work/tool-classes" .

install="$work/install dir"
cp "$launcher" "$install/se_javac"
cat >"$install/morle_tool.cfg" <<CFG
JDK_HOME=$jdk
CLASSPATH=$work/tool.jar
VERSION=9.8.7
BUILD=b "42"
CFG

fail() { echo "FAILED: $*"; exit 1; }

version=$("$install/se_javac" -version)
expected=$'se_javac\ntovik_version=9.8.7\ntovik_build=b "42"\ntovik_vornex (not set)'
[[ $version == "$expected" ]] || fail "-version printed: $version"

"$install/se_javac" -J-Xmx64m -d "$work/out" "$source_dir/examples/hello/Hello.java" ||
    fail "compiling through the launcher failed"
greeting=$("$jdk/bin/java" -cp "$work/out" Hello)
[[ $greeting == Hello* ]] || fail "the compiled program printed: $greeting"

# A compilation error is the tool's failure, and the launcher reports it as its own.
printf 'class Broken { int x = ; }\n' >"$work/Broken.java"
status=0
"$install/se_javac" -d "$work/out" "$work/Broken.java" >/dev/null 2>&1 || status=$?
[[ $status -ne 0 ]] || fail "a failed compilation exited 0"

echo "real JDK ($jdk): compiled and ran Hello; failed compilation exited $status"
