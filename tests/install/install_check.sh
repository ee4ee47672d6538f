#!/bin/sh
# Installs the build into a scratch DESTDIR and checks that every file lands where a desktop
# expects it, and that the entry and the metainfo are valid where the validators exist.
set -eu
build="$1"
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null

fail=0
for f in usr/bin/quoxel \
         usr/share/applications/quoxel.desktop \
         usr/share/icons/hicolor/scalable/apps/quoxel.svg \
         usr/share/metainfo/io.github.quoxel.Quoxel.metainfo.xml \
         usr/share/doc/quoxel/copyright usr/share/doc/quoxel/changelog.gz \
         usr/share/man/man1/quoxel.1.gz; do
    if [ ! -f "$dest/$f" ]; then
        echo "missing: /$f"
        fail=1
    fi
done
[ -x "$dest/usr/bin/quoxel" ] || { echo "not executable: /usr/bin/quoxel"; fail=1; }
# Nothing the program writes at run time may be installed: those live in ~/.config/Quoxel/.
if find "$dest" -name 'Quoxel.ini' -o -name 'Quoxel.log' | grep -q .; then
    echo "settings or log installed"
    fail=1
fi
# No file is writable by others.
if find "$dest" -perm -o+w ! -type l | grep -q .; then
    echo "world-writable files installed"
    fail=1
fi
grep -q '^Icon=quoxel$' "$dest/usr/share/applications/quoxel.desktop" || { echo "desktop entry names another icon"; fail=1; }
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$dest/usr/share/applications/quoxel.desktop" || fail=1
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$dest/usr/share/metainfo/io.github.quoxel.Quoxel.metainfo.xml" >/dev/null || fail=1
fi
[ $fail -eq 0 ] && echo "install layout ok"
exit $fail
