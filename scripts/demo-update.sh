#!/bin/bash
# Builds the updater's bundle, installs it into a temporary folder and runs one real update with it on generated
# example bundles there, then shows what changed and the update's log. Usage: scripts/demo-update.sh [build folder]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build/demo"}
# An existing build folder is used as it is configured.
[ -f "$build/CMakeCache.txt" ] || cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --parallel 2 --target updater >/dev/null

demo=$(mktemp -d /tmp/vela-demo-XXXXXX)
plist() {
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0">\n<dict>\n'
    printf '\t<key>CFBundleExecutable</key>\n\t<string>%s</string>\n' "$1"
    printf '\t<key>CFBundleShortVersionString</key>\n\t<string>%s</string>\n</dict>\n</plist>\n' "$2"
}
bundle() { # folder version
    mkdir -p "$demo/$1/Contents/MacOS"
    plist demo "$2" >"$demo/$1/Contents/Info.plist"
    printf '#!/bin/bash\necho "Demo %s relaunched with: $*" >"%s/relaunched.txt"\n' "$2" "$demo" \
        >"$demo/$1/Contents/MacOS/demo"
    chmod 755 "$demo/$1/Contents/MacOS/demo"
    ln -s MacOS "$demo/$1/Contents/Executables"
}
# The bundle as `cmake --install` lays it out (with the library it needs).
cmake --install "$build" --prefix "$demo/install" >/dev/null
libexec=$(sed -n 's/^CMAKE_INSTALL_LIBEXECDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
updater_app="$demo/install/${libexec:-libexec}/Updater.app"
bundle Applications/Demo.app 1.0
bundle Download/Demo.app 2.0

# The caller: a process that quits once the updater says it waits for it.
sleep 600 &
caller=$!
export XDG_DATA_HOME="$demo/data"
"$updater_app/Contents/MacOS/updater" --pid "$caller" --caller-log 1 --log-dir "$demo/logs" \
    "$demo/Applications/Demo.app" "$demo/Download/Demo.app" | while read -r line; do
    echo "updater says: $line"
    kill "$caller" 2>/dev/null || true
done && status=0 || status=${PIPESTATUS[0]}
wait "$caller" 2>/dev/null || true
for _ in 1 2 3 4 5 6 7 8 9 10; do [ -e "$demo/relaunched.txt" ] && break; sleep 0.2; done

echo "exit status: $status"
echo "installed: $(grep -A1 CFBundleShortVersionString "$demo/Applications/Demo.app/Contents/Info.plist" | tail -1)"
echo "trash: $(ls "$demo/data/Trash/files" 2>/dev/null)"
cat "$demo/relaunched.txt" 2>/dev/null || echo "no relaunch seen"
echo "log:"
cat "$demo"/logs/*_log_1.txt
echo "(demo folder: $demo)"
