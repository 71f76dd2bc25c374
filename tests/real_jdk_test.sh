#!/usr/bin/env bash
# The launchers with this machine's real JDK and the example tool: compiles a program through
# se_javac and runs it through se_java, and checks that the configured properties reach the
# tool. Arguments: the directory of the built launchers, the example tool's jar (empty when
# the build had no JDK), the source directory. Exits 77 (skipped) where no JDK is installed.
set -euo pipefail
launchers=$1
tool_jar=$2
source_dir=$3

javac_path=$(command -v javac || true)
if [[ -z $javac_path || -z $tool_jar ]]; then
    echo "SKIPPED: no JDK on this machine (javac not found on PATH, or no example tool built)"
    exit 77
fi
jdk=$(dirname "$(dirname "$(readlink -f "$javac_path")")")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
install="$work/install dir"
mkdir -p "$install" "$work/out"
cp "$launchers/se_javac" "$launchers/se_java" "$tool_jar" "$install/"
cat >"$install/morle_tool.cfg" <<CFG
JDK_HOME=$jdk
CLASSPATH=$install/tool.jar
VERSION=9.8.7
BUILD=b "42"
CFG

fail() { echo "FAILED: $*"; exit 1; }

for identity in se_javac se_java; do
    version=$("$install/$identity" -version)
    expected="$identity"$'\ntovik_version=9.8.7\ntovik_build=b "42"\ntovik_vornex (not set)'
    [[ $version == "$expected" ]] || fail "$identity -version printed: $version"
done

"$install/se_javac" -J-Xmx64m -d "$work/out" "$source_dir/examples/hello/Hello.java" ||
    fail "compiling through se_javac failed"
greeting=$(cd "$work" && "$install/se_java" -J-Xmx64m -cp out Hello)
[[ $greeting == "Hello from a class compiled by se_javac!" ]] ||
    fail "Hello run through se_java printed: $greeting"

# The program's own arguments reach it through se_java, -J ones included.
cat >"$work/Echo.java" <<'JAVA'
public class Echo {
    public static void main(String[] args) {
        System.out.println(String.join("|", args));
        System.exit(args.length);
    }
}
JAVA
"$install/se_javac" -d "$work/out" "$work/Echo.java" || fail "compiling Echo failed"
status=0
echoed=$("$install/se_java" -cp "$work/out" Echo "a b" -J-x "" 'q"' ) || status=$?
[[ $echoed == 'a b|-J-x||q"' && $status -eq 4 ]] ||
    fail "Echo through se_java printed '$echoed' and exited $status"

# A compilation error is the tool's failure, and the launcher reports it as its own.
printf 'class Broken { int x = ; }\n' >"$work/Broken.java"
status=0
"$install/se_javac" -d "$work/out" "$work/Broken.java" >/dev/null 2>&1 || status=$?
[[ $status -ne 0 ]] || fail "a failed compilation exited 0"

echo "real JDK ($jdk): compiled Hello with se_javac and ran it with se_java;" \
    "failed compilation exited $status"
