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

# Stopping the tool: through se_java exactly as with java started directly. A class whose
# shutdown hook writes a file after 0.8 s is stopped by Ctrl+C and Ctrl+\ typed on a terminal
# (a pseudo-terminal made by script, whose input is a FIFO), and by SIGTERM sent to every
# process of the run at once.
cat >"$work/Hook.java" <<'JAVA'
import java.nio.file.Files;
import java.nio.file.Paths;

public class Hook {
    public static void main(String[] args) throws Exception {
        final String marker = args[0];
        Runtime.getRuntime().addShutdownHook(new Thread(() -> {
            try {
                Thread.sleep(800);
                Files.write(Paths.get(marker), "hook ran".getBytes());
            } catch (Exception e) {
                e.printStackTrace();
            }
        }));
        System.out.println("ready");
        System.out.flush();
        Thread.sleep(Long.parseLong(args[1]));
        System.out.println("finished");
    }
}
JAVA
"$install/se_javac" -d "$work/out" "$work/Hook.java" || fail "compiling Hook failed"
mkfifo "$work/keys"

await_ready() {
    local output=$1 tries
    for ((tries = 0; tries < 300; tries++)); do
        grep -q ready "$output" 2>/dev/null && return 0
        sleep 0.1
    done
    fail "the class did not start: $(cat "$output")"
}

# type <command> <key> <run time in ms>: the outcome as "exit code, marker, dump, finished".
type_key() {
    local command=$1 key=$2 run_ms=$3 status
    rm -f "$work/marker" "$work/terminal.txt"
    # With job control on: a background command of a non-interactive shell would otherwise
    # start with SIGINT and SIGQUIT ignored.
    set -m
    script -qec "exec $command -cp '$work/out' Hook '$work/marker' $run_ms" /dev/null \
        <"$work/keys" >"$work/terminal.txt" 2>&1 &
    local script_pid=$!
    set +m
    exec 7>"$work/keys"
    await_ready "$work/terminal.txt"
    printf "$key" >&7
    status=0
    wait "$script_pid" || status=$?
    exec 7>&-
    printf 'exit %s, marker %s, dump %s, finished %s' "$status" \
        "$(cat "$work/marker" 2>/dev/null || echo none)" \
        "$(grep -c 'Full thread dump' "$work/terminal.txt")" \
        "$(grep -c finished "$work/terminal.txt")"
}

# terminate_all <command>: SIGTERM to the command and its children at once.
terminate_all() {
    local command=$1 status=0 pid
    rm -f "$work/marker" "$work/background.txt"
    "$command" -cp "$work/out" Hook "$work/marker" 60000 >"$work/background.txt" 2>&1 &
    pid=$!
    await_ready "$work/background.txt"
    kill -TERM "$pid" $(pgrep -P "$pid") || true
    wait "$pid" || status=$?
    printf 'exit %s, marker %s' "$status" "$(cat "$work/marker" 2>/dev/null || echo none)"
}

java_path="$jdk/bin/java"
for stop in "Ctrl+C" "Ctrl+\\" "SIGTERM to all"; do
    case $stop in
    "Ctrl+C")
        direct=$(type_key "'$java_path'" '\003' 60000)
        launched=$(type_key "'$install/se_java'" '\003' 60000)
        expected="exit 130, marker hook ran, dump 0, finished 0"
        ;;
    "SIGTERM to all")
        direct=$(terminate_all "$java_path")
        launched=$(terminate_all "$install/se_java")
        expected="exit 143, marker hook ran"
        ;;
    *)
        direct=$(type_key "'$java_path'" '\034' 3000)
        launched=$(type_key "'$install/se_java'" '\034' 3000)
        expected="exit 0, marker hook ran, dump 1, finished 1"
        ;;
    esac
    [[ $direct == "$expected" ]] || fail "$stop, java directly: $direct (expected $expected)"
    [[ $launched == "$expected" ]] || fail "$stop, through se_java: $launched (expected $expected)"
    echo "$stop: $launched, as with java directly"
done

echo "real JDK ($jdk): compiled Hello with se_javac and ran it with se_java;" \
    "failed compilation exited $status"
