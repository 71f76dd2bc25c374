#!/usr/bin/env bash
# Smoke test of the packages tools/package wrote into dist/, used as a user would:
# - win64 and win32: each archive is unpacked into a folder with a space in its name inside
#   the Wine prefix, its executables must be signed exactly when SE_SIGN_PKCS12 is set (as
#   for tools/package), a morle_tool.cfg made from morle_tool.cfg.example names a stand-in VM,
#   and se_javac and se_java are run by bare name through the Windows PATH (cmd.exe) from
#   another folder; the VM must get the expected command line. The win32 part is skipped,
#   with a line saying so, where this machine cannot run 32-bit Windows programs.
# - linux-x86_64 and linux-aarch64: each archive holds what it should, and its manual pages
#   render with man -l without a warning. The x86-64 archive is unpacked, configured for this
#   machine's JDK from the example, and Hello is compiled with its se_javac and run with its
#   se_java, by bare name through PATH.
# - deb (amd64): lintian finds nothing but the override. Where dpkg knows no se-javac and
#   there is no /etc/se-javac, the package is installed with apt-get (as root), man se_javac
#   and man se_java render its manual pages without a warning, Hello is compiled and run
#   through se_javac and se_java from /usr/bin in another folder, then the package is purged
#   and nothing of it may be left: no file, link or conffile, no entry in dpkg's status.
#   Otherwise (installed, removed with its configuration kept, or an /etc/se-javac of no
#   package) the .deb is checked without installing it, with a line saying so: its conffile,
#   its manual pages and Hello compiled and run through its launchers unpacked into a folder,
#   by bare name through that folder's usr/bin. Either way what dpkg knows of se-javac, its
#   files and everything in /etc/se-javac must be byte for byte what they were before.
# - deb (arm64): lintian finds nothing but the override; it holds the amd64 package's files,
#   its launchers are aarch64 programs, and, unpacked with its configuration naming an
#   aarch64 stand-in VM, se_javac and se_java run under emulation by bare name through its
#   usr/bin; the VM must get the expected command line. That run is skipped, with a line
#   saying so, where this machine cannot run aarch64 programs (tools/runs-arm64).
# Needs the win32, win64 and linux-arm64 build trees (for the stand-in VMs), Wine, a JDK and
# man (package man-db).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
cd "$root"
export WINEDEBUG=${WINEDEBUG:--all} WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix}

fail() { printf 'package smoke test: FAILED: %s\n' "$*" >&2; exit 1; }
say() { printf 'package smoke test: %s\n' "$*"; }

# The stand-in VMs of the Windows and arm64 build trees.
for preset in win64 win32 linux-arm64; do
    cmake --build --preset "$preset" --target stand_in_vm >/dev/null ||
        fail "cannot build the stand-in VM of $preset (configure it first: cmake --preset $preset)"
done

shopt -s nullglob
archives=(dist/se_javac-*-linux-x86_64.tar.gz)
((${#archives[@]} == 1)) || fail "no single dist/se_javac-<version>-linux-x86_64.tar.gz; run tools/package"
version=${archives[0]#dist/se_javac-}
version=${version%-linux-x86_64.tar.gz}
entry_class="fenmoor.zandrel.se.java.toJava.Main"
expect_signed=no
[[ -z ${SE_SIGN_PKCS12:-} ]] || expect_signed=yes
expected_files="README.txt morle_tool.cfg.example se_java%s se_javac%s tool.jar"
expected_linux_files="README.txt man/man1/se_java.1 man/man1/se_javac.1 morle_tool.cfg.example se_java se_javac tool.jar"
command -v man >/dev/null || fail "no man on this machine (package man-db)"

# The files of an archive's one top-level directory, sorted, on one line.
contents() {
    cmake -E tar tf "$1" | sed -n "s|^$2/\(..*[^/]\)$|\1|p" | LC_ALL=C sort | tr '\n' ' ' |
        sed 's/ $//'
}

# The Windows path of a path inside the prefix's drive C.
windows_path() {
    local relative=${1#"$WINEPREFIX/drive_c/"}
    printf 'C:\\%s' "${relative//\//\\}"
}

# A manual page as man shows it, 80 columns wide: no warning from man or groff, and the NAME
# line of `command`. Arguments: the command, then what man is given (a name, or -l <file>).
check_manual_page() {
    local command=$1 errors text
    shift
    errors=$(mktemp)
    text=$(MANWIDTH=80 man --warnings "$@" 2>"$errors") || fail "man $* failed: $(cat "$errors")"
    [[ ! -s $errors ]] || fail "man $* warns: $(cat "$errors")"
    rm -f "$errors"
    grep -qE "^ +$command .+ run the " <<<"$text" || fail "man $* shows no NAME line of $command"
}

# Compiles Hello with se_javac and runs it with se_java, both by bare name with PATH set to
# `path` alone, in a folder of its own.
check_hello() {
    local label=$1 path=$2 work greeting status=0
    work=$(mktemp -d)
    cp examples/hello/Hello.java "$work/"
    greeting=$(cd "$work" && export PATH="$path" &&
        se_javac -d out Hello.java && se_java -cp out Hello) || status=$?
    rm -rf "$work"
    ((status == 0)) || fail "$label: compiling and running Hello through $path failed"
    [[ $greeting == "Hello from a class compiled by se_javac!" ]] ||
        fail "$label: Hello printed: $greeting"
}

# Tries a tiny 32-bit program under Wine.
runs_32_bit_programs() {
    timeout 120 tools/wine-run "build/win32/tests/stand_in_vm.exe" >/dev/null 2>&1
}

# --- Windows ------------------------------------------------------------------------------

# The stand-in VM, which exits with 7, must have run with the expected command line (the
# first entry of its record) and the launcher must have ended with its exit code.
check_vm_record() {
    local label=$1 identity=$2 record=$3 status=$4 expected=$5 line
    [[ -f $record ]] || fail "$label: $identity started no VM (exit code $status)"
    line=$(head -n 1 "$record")
    line=${line#* }
    [[ $line == "$expected" ]] || fail "$label: the VM of $identity got: $line"$'\n'"expected: $expected"
    [[ $status -eq 7 ]] || fail "$label: $identity ended with $status, the VM with 7"
}

smoke_windows() {
    local system=$1 name="se_javac-$version-$1"
    local archive="dist/$name.zip"
    [[ -f $archive ]] || fail "no $archive"
    [[ $(contents "$archive" "$name") == "$(printf "$expected_files" .exe .exe)" ]] ||
        fail "$archive holds: $(contents "$archive" "$name")"

    local base="$WINEPREFIX/drive_c/se_javac smoke $system"
    rm -rf "$base"
    mkdir -p "$base/elsewhere" "$base/jdk/bin"
    (cd "$base" && cmake -E tar xf "$root/$archive")
    local install="$base/$name"
    cp "build/$system/tests/stand_in_vm.exe" "$base/jdk/bin/java.exe"

    # Signed exactly when tools/package was asked to sign: an Authenticode signature lives
    # in the PE security directory.
    local exe signed headers
    for exe in "$install"/*.exe; do
        headers=$(x86_64-w64-mingw32-objdump -p "$exe")
        signed=yes
        ! grep -qE "^Entry 4 0+ 0+ Security Directory" <<<"$headers" || signed=no
        [[ $signed == "${expect_signed}" ]] ||
            fail "$name/$(basename "$exe") signed: $signed, expected: $expect_signed"
    done

    local example="$install/morle_tool.cfg.example"
    grep -q $'\r$' "$example" || fail "$example does not end its lines with CR LF"
    ! grep -qv $'\r$' "$install/README.txt" || fail "README.txt of $name has lines without CR LF"
    local install_win jdk_win
    install_win=$(windows_path "$install")
    jdk_win=$(windows_path "$base/jdk")
    sed -e "s|^JDK_HOME=[^\r]*|JDK_HOME=${jdk_win//\\/\\\\}|" \
        -e "s|C:\\\\Tools\\\\se_javac|${install_win//\\/\\\\}|" "$example" >"$install/morle_tool.cfg"

    # What the user types, and what the VM must get.
    local head="\"$jdk_win\\bin\\java\" -Dtovik_version=\"$version\" -Dtovik_build=\"$system\""
    head+=" -classpath \"$install_win\\tool.jar;$jdk_win\\lib\\tools.jar\""
    local -A expected=(
        [se_javac]="$head -Xmx64m $entry_class se_javac \"-d\" \"C:\\out dir\\\\\" \"A.java\""
        [se_java]="$head -Xss4m $entry_class se_java \"-cp\" \"a b\" \"Prog\" \"-J-x\" \"\""
    )
    local identity status record typed
    for identity in se_javac se_java; do
        if [[ $identity == se_javac ]]; then
            typed=(-d 'C:\out dir\' -J-Xmx64m A.java)
        else
            typed=(-J-Xss4m -cp 'a b' Prog -J-x '')
        fi
        record="$base/record-$identity.txt"
        status=0
        (cd "$base/elsewhere" &&
            STAND_IN_RECORD="$(windows_path "$record")" STAND_IN_EXIT=7 WINEPATH="$install_win" \
                timeout 120 "$root/tools/wine-run" cmd /c "$identity" "${typed[@]}") || status=$?
        check_vm_record "$system" "$identity" "$record" "$status" "${expected[$identity]}"
        say "$system: $identity by bare name through PATH from another folder: the VM got" \
            "the expected command line"
    done
    rm -rf "$base"
}

# --- Linux --------------------------------------------------------------------------------

smoke_linux() {
    local system=$1 name="se_javac-$version-$1"
    local archive="dist/$name.tar.gz"
    [[ -f $archive ]] || fail "no $archive"
    [[ $(contents "$archive" "$name") == "$expected_linux_files" ]] ||
        fail "$archive holds: $(contents "$archive" "$name")"
    local work
    work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    mkdir -p "$work/linux package"
    tar -xzf "$archive" -C "$work/linux package"
    local install="$work/linux package/$name" identity
    for identity in se_javac se_java; do
        check_manual_page "$identity" -l "$install/man/man1/$identity.1"
    done
    say "$system: man -l shows se_javac(1) and se_java(1) without a warning"
    [[ $system == linux-x86_64 ]] || return 0

    local javac_path jdk
    javac_path=$(command -v javac) || fail "no JDK (javac) on this machine"
    jdk=$(dirname "$(dirname "$(readlink -f "$javac_path")")")
    grep -q $'\r' "$install/morle_tool.cfg.example" && fail "the Linux example has CR LF lines"
    sed -e "s|^JDK_HOME=.*|JDK_HOME=$jdk|" -e "s|/opt/se_javac|$install|" \
        "$install/morle_tool.cfg.example" >"$install/morle_tool.cfg"
    check_hello linux "$install"
    say "linux: compiled Hello with the package's se_javac and ran it with its se_java ($jdk)"
}

# --- Debian package ------------------------------------------------------------------------

apt_get() {
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y -qq "$@"
}

purge_deb() {
    if [[ -n $(dpkg_state) ]]; then
        apt_get purge se-javac >/dev/null
    fi
}

# What dpkg knows of se-javac ("install ok installed 1.0.0", or "deinstall ok config-files
# 1.0.0" where it was removed and its configuration kept); nothing where it knows none.
dpkg_state() {
    local state
    state=$(dpkg-query -W -f='${Status} ${Version}' se-javac 2>/dev/null || true)
    [[ $state == *not-installed* ]] || printf '%s' "$state"
}

# The installed se-javac as it lies on this machine: dpkg's state, and the owner, mode and
# contents of each of its files and of everything in /etc/se-javac (a link by its target).
installation_fingerprint() {
    printf '%s\n' "$(dpkg_state)"
    local path
    { dpkg-query -L se-javac 2>/dev/null || true; find /etc/se-javac 2>/dev/null || true; } |
        LC_ALL=C sort -u | while IFS= read -r path; do
        if [[ -L $path ]]; then
            printf '%s -> %s\n' "$path" "$(readlink "$path")"
        elif [[ -f $path ]]; then
            printf '%s %s\n' "$(stat -c '%U:%G %a' "$path")" "$(sha256sum "$path")"
        fi
    done
}

# Unpacks a .deb into `root` and puts its configuration, changed by the sed script given,
# where its link to /etc/se-javac/morle_tool.cfg was: the launchers unpacked there read that
# copy, never the configuration of an installed package.
unpack_deb() {
    local deb=$1 root=$2 script=$3
    dpkg-deb -x "$deb" "$root"
    rm "$root/usr/lib/se-javac/morle_tool.cfg"
    sed "$script" "$root/etc/se-javac/morle_tool.cfg" >"$root/usr/lib/se-javac/morle_tool.cfg"
}

# The package installed with apt-get, used from /usr/bin, then purged.
smoke_deb_installed() {
    local deb=$1
    trap purge_deb EXIT
    apt_get install "./$deb" >/dev/null || fail "apt-get install ./$deb failed"
    local files conffiles
    files=$(dpkg-query -L se-javac)
    conffiles=$(dpkg-query -W -f='${Conffiles}' se-javac)
    [[ $conffiles == *"/etc/se-javac/morle_tool.cfg "* ]] ||
        fail "deb: the configuration is no conffile: $conffiles"
    local identity
    for identity in se_javac se_java; do
        [[ $(man -w "$identity") == "/usr/share/man/man1/$identity.1.gz" ]] ||
            fail "deb: man finds no /usr/share/man/man1/$identity.1.gz but: $(man -w "$identity" 2>&1)"
        check_manual_page "$identity" "$identity"
    done
    say "deb: man se_javac and man se_java show the installed pages without a warning"
    check_hello deb /usr/bin
    say "deb: installed, compiled Hello with se_javac and ran it with se_java from /usr/bin"

    apt_get purge se-javac >/dev/null || fail "apt-get purge se-javac failed"
    trap - EXIT
    local state path
    state=$(dpkg_state)
    [[ -z $state ]] || fail "deb: dpkg still has se-javac: $state"
    while IFS= read -r path; do
        if [[ -L $path || (-e $path && ! -d $path) || ($path == *se-javac* && -e $path) ]]; then
            fail "deb: $path is left after the purge"
        fi
    done <<<"$files"$'\n'/etc/se-javac
    say "deb: purged, nothing of it left"
}

# The package unpacked into a folder, its launchers used by bare name through its usr/bin,
# with its own configuration and the system's default JDK as installed it would use them.
smoke_deb_unpacked() {
    local deb=$1 work identity
    [[ $(dpkg-deb -I "$deb" conffiles) == /etc/se-javac/morle_tool.cfg ]] ||
        fail "deb: the configuration is no conffile: $(dpkg-deb -I "$deb" conffiles)"
    work=$(mktemp -d)
    unpack_deb "$deb" "$work/root" "s|/usr/share/se-javac/|$work/root/usr/share/se-javac/|"
    for identity in se_javac se_java; do
        check_manual_page "$identity" -l "$work/root/usr/share/man/man1/$identity.1.gz"
    done
    say "deb: man -l shows its se_javac(1) and se_java(1) without a warning"
    check_hello "deb unpacked" "$work/root/usr/bin"
    rm -rf "$work"
    say "deb: compiled Hello with its se_javac and ran it with its se_java, unpacked"
}

smoke_deb() {
    local deb="dist/se-javac_${version}_amd64.deb"
    [[ -f $deb ]] || fail "no $deb"
    lintian --fail-on error,warning "$deb" || fail "lintian reports errors or warnings in $deb"
    say "deb: lintian reports nothing but the override"
    local state
    state=$(dpkg_state)
    if [[ -z $state && ! -e /etc/se-javac ]]; then
        smoke_deb_installed "$deb"
    else
        say "deb: se-javac is on this machine (${state:-an /etc/se-javac of no package}): the" \
            "package is checked unpacked, not installed, and that installation is left as it is"
        smoke_deb_unpacked "$deb"
    fi
}

# The paths a .deb holds, one a line.
deb_paths() {
    dpkg-deb -c "$1" | sed -E 's/^([^ ]+ +){5}//; s/ -> .*//'
}

smoke_deb_arm64() {
    local deb="dist/se-javac_${version}_arm64.deb"
    [[ -f $deb ]] || fail "no $deb"
    lintian --fail-on error,warning "$deb" || fail "lintian reports errors or warnings in $deb"
    [[ $(dpkg-deb -f "$deb" Architecture) == arm64 ]] || fail "$deb is not for arm64"
    [[ $(deb_paths "$deb") == "$(deb_paths "dist/se-javac_${version}_amd64.deb")" ]] ||
        fail "$deb holds other files than the amd64 package:"$'\n'"$(deb_paths "$deb")"
    local work
    work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    local root="$work/arm64 root" identity machine
    unpack_deb "$deb" "$root" "s|^JDK_HOME=.*|JDK_HOME=$work/jdk|"
    for identity in se_javac se_java; do
        # The ELF header's e_machine: 183 is AArch64.
        machine=$(od -An -tu2 -j18 -N2 "$root/usr/lib/se-javac/$identity" | tr -d ' ')
        [[ $machine == 183 ]] || fail "arm64 deb: $identity is no aarch64 program (machine $machine)"
    done
    say "arm64 deb: lintian reports nothing but the override; the amd64 package's files, aarch64 launchers"

    local reason
    if ! reason=$(tools/runs-arm64); then
        say "arm64 deb: SKIPPED running its launchers: $reason"
        return 0
    fi
    # The package's configuration, beside the launchers where its link was, with JDK_HOME
    # naming the stand-in.
    mkdir -p "$work/jdk/bin" "$work/elsewhere"
    cp build/linux-arm64/tests/stand_in_vm "$work/jdk/bin/java"
    local head="$work/jdk/bin/java -Dtovik_version=$version -Dtovik_build=debian-arm64"
    head+=" -classpath /usr/share/se-javac/tool.jar:$work/jdk/lib/tools.jar"
    local -A expected=(
        [se_javac]="$head -Xmx64m $entry_class se_javac -d out A.java"
        [se_java]="$head -Xss4m $entry_class se_java -cp out Prog -J-x"
    )
    local status record typed timeout_program
    timeout_program=$(command -v timeout)
    for identity in se_javac se_java; do
        if [[ $identity == se_javac ]]; then
            typed=(-d out -J-Xmx64m A.java)
        else
            typed=(-J-Xss4m -cp out Prog -J-x)
        fi
        record="$work/record-$identity.txt"
        status=0
        (cd "$work/elsewhere" && export PATH="$root/usr/bin" &&
            STAND_IN_RECORD="$record" STAND_IN_EXIT=7 "$timeout_program" 120 "$identity" \
                "${typed[@]}") || status=$?
        check_vm_record "arm64 deb" "$identity" "$record" "$status" "${expected[$identity]}"
        say "arm64 deb: $identity by bare name through its usr/bin under emulation: the VM got" \
            "the expected command line"
    done
}

installed_before=$(installation_fingerprint)
smoke_windows win64
if runs_32_bit_programs; then
    smoke_windows win32
else
    say "win32: SKIPPED: this machine cannot run 32-bit Windows programs under Wine"
fi
smoke_linux linux-x86_64
smoke_linux linux-aarch64
smoke_deb
smoke_deb_arm64
[[ $(installation_fingerprint) == "$installed_before" ]] ||
    fail "the se-javac installed on this machine, or its configuration, has changed:"$'\n'"before:"$'\n'"$installed_before"$'\n'"after:"$'\n'"$(installation_fingerprint)"
say "passed"
