#!/usr/bin/env bash
# Builds the Debian package build/vespertone_VERSION_ARCH.deb from the build in build/ (the one
# scripts/build.sh and scripts/test.sh make; built first when missing), checks it with lintian
# and prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."
umask 022
bash scripts/install-deps.sh --package
[ -f build/build.ninja ] || bash scripts/build.sh
cmake --build build >&2 # nothing to do after the tests' build

work=build/package
root=$work/debian/vespertone
rm -rf "$work"
mkdir -p "$root/DEBIAN"
DESTDIR=$PWD/$root cmake --install build --prefix /usr >/dev/null
# As Debian's own packages are: no symbols, no compiler notes.
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$root"/usr/bin/*
version=$("$root/usr/bin/vespertone-tool" --version | sed 's/^vespertone-tool //')
architecture=$(dpkg --print-architecture)

doc=$root/usr/share/doc/vespertone
install -d "$doc"
install -m 644 packaging/debian/copyright "$doc/copyright"
gzip -9n <packaging/debian/changelog >"$doc/changelog.gz"
gzip -9n "$root"/usr/share/man/man1/*.1

# dpkg-shlibdeps reads debian/control beside the tree it looks at.
printf 'Source: vespertone\n\nPackage: vespertone\nArchitecture: any\n' >"$work/debian/control"
shlibs=$(cd "$work" && dpkg-shlibdeps -O -edebian/vespertone/usr/bin/vespertone \
  -edebian/vespertone/usr/bin/vespertone-tool 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "package: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
# The programs load libavformat and libavcodec on first use, so no ELF header names them: their
# packages come from the shlibs files of the versions the build used.
for lib in libavformat libavcodec; do
  major=$(pkg-config --modversion "$lib" | cut -d. -f1)
  dependency=$(grep -h "^$lib $major " /var/lib/dpkg/info/*.shlibs | head -1 | cut -d' ' -f3-)
  [ -n "$dependency" ] || { echo "package: no shlibs entry for $lib $major" >&2; exit 1; }
  shlibs="$shlibs, $dependency"
done
sed -e "s/@VERSION@/$version/" -e "s/@ARCHITECTURE@/$architecture/" \
  -e "s/@INSTALLED_SIZE@/$(du -sk "$root/usr" | cut -f1)/" -e "s/@SHLIBS_DEPENDS@/$shlibs/" \
  packaging/debian/control.in >"$root/DEBIAN/control"
(cd "$root" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
chmod 644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

deb=build/vespertone_${version}_${architecture}.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
lintian --display-info --fail-on error,warning "$deb" >&2
echo "$deb" # the one line on standard output
