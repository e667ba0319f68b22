#!/usr/bin/env bash
# check-packages.sh GROUP BUILD_DIR SOURCE_DIR OUT_DIR: the rows of one group of the table below.
# Exit 0 when every row holds, 1 when one does not, 77 when the group's tool is missing.
set -uo pipefail
group=$1 build=$2 src=$3 out=$4
metainfo=$src/res/io.github.tarvix.tarvix_update.metainfo.xml
installed=$(printf '%s\n' /usr/bin/tarvix-{flash,update,update-demo} /usr/lib/udev/rules.d/70-tarvix-update.rules \
  /usr/share/applications/tarvix-update.desktop /usr/share/doc/tarvix-update/{changelog.gz,copyright} \
  /usr/share/icons/hicolor/{32x32/apps/tarvix-update.png,scalable/apps/tarvix-update.svg} \
  /usr/share/man/{,zh_CN/}man1/tarvix-{flash,update-demo,update}.1.gz /usr/share/tarvix-update/tarvix-demo.dat \
  /usr/share/metainfo/io.github.tarvix.tarvix_update.metainfo.xml \
  /usr/share/bash-completion/completions/tarvix-flash /usr/share/zsh/vendor-completions/_tarvix-flash \
  /usr/share/fish/vendor_completions.d/tarvix-flash.fish)
declare -A tools=([build]=cpack [deb]="dpkg-deb dpkg-parsechangelog" [lintian]=lintian [rpm]=rpm
                  [metadata]="appstreamcli desktop-file-validate dpkg-parsechangelog")
for tool in ${tools[$group]}; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed (scripts/install-deps.sh)"; exit 77; }
done
deb=$(ls "$out"/tarvix-update_*.deb 2>/dev/null) rpm=$(ls "$out"/tarvix-update-*.rpm 2>/dev/null)
[[ $group != rpm || -n $rpm ]] || { echo "skipped: no .rpm was built (rpmbuild is missing)"; exit 77; }
news_version=$(dpkg-parsechangelog -l "$src/NEWS" -S Version 2>/dev/null)
same() { diff <(sort <<<"$1") <(sort <<<"$2"); }  # expected, actual
has_all() { local text=$1 word; shift; for word; do grep -qF -- "$word" <<<"$text" || { echo "no $word in: $text"; return 1; }; done; }
deb_files() { dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print substr($6, 2)}'; }
rpm_files() { rpm -qpl "$rpm" | grep -v '^/usr/lib/\.build-id'; }
news_releases() { dpkg-parsechangelog -l "$src/NEWS" --all --format rfc822 | awk '/^Version:/ {v=$2}
  /^Timestamp:/ {cmd="date -u -d @" $2 " +%F"; cmd | getline d; close(cmd); print v, d}'; }
meta_releases() { sed -n 's/.*<release version="\([^"]*\)" date="\([^"]*\)".*/\1 \2/p' "$metainfo"; }
rule_modaliases() { sed -n 's/.*idVendor}=="\(....\)".*idProduct}=="\(....\)".*/usb:v\U\1\Ep\U\2\Ed*/p' "$src/res/70-tarvix-update.rules"; }
meta_modaliases() { sed -n 's/.*<modalias>\(.*\)<\/modalias>.*/\1/p' "$metainfo"; }
screenshots_in_docs() { local url n=0; for url in $(sed -n 's/.*<image[^>]*>\(.*\)<\/image>.*/\1/p' "$metainfo"); do
  [[ $url == */v$news_version/docs/* && -f $src/docs/${url##*/} ]] || { echo "not at v$news_version or not in docs/: $url"; return 1; }; n=$((n+1)); done; ((n > 0)); }
quiet() { local text; text=$("$@" 2>&1); local rc=$?; echo "$text"; [[ $rc == 0 && -z $(grep -E '^([EWIP]: |.*: (error|warning|hint|info): )' <<<"$text") ]]; }

rows=(
  "build|cpack builds the .deb and, where rpmbuild exists, the .rpm|rm -rf \"\$out\" && cpack --config \"\$build/CPackConfig.cmake\" -B \"\$out\" -G \"DEB\$(command -v rpmbuild >/dev/null && echo ';RPM')\""
  "deb|the .deb holds exactly the installed files|same \"\$installed\" \"\$(deb_files)\""
  "deb|the .deb names a real maintainer, NEWS's version, the libraries it needs and Qt's translations|has_all \"\$(dpkg-deb -f \"\$deb\" Maintainer Version Depends Recommends)\" '@tarvix.github.io>' \"Version: \$news_version\" libqt6widgets6 libhidapi-hidraw0 libudev1 libnettle8 qt6-qpa-plugins qt6-translations-l10n"
  "deb|the .deb's changelog is NEWS|dpkg-deb --fsys-tarfile \"\$deb\" | tar -xO ./usr/share/doc/tarvix-update/changelog.gz | gzip -dc | cmp - \"\$src/NEWS\""
  "lintian|lintian finds no error and no warning in the .deb|lintian --fail-on error,warning \"\$deb\""
  "rpm|the .rpm holds exactly the installed files and its own two folders|same \"\$installed\"$'\\n'/usr/share/doc/tarvix-update$'\\n'/usr/share/tarvix-update \"\$(rpm_files)\""
  "rpm|the .rpm requires Qt, hidapi and udev, and recommends Qt's translations|has_all \"\$(rpm -qp --requires --recommends \"\$rpm\")\" 'qt6-qttranslations' 'libQt6Widgets.so.6()(64bit)' 'libhidapi-hidraw.so.0()(64bit)' 'libudev.so.1()(64bit)' 'libnettle.so.8()(64bit)'"
  "rpm|the .rpm carries the package's description, licence and NEWS's version|has_all \"\$(rpm -qpi --changelog \"\$rpm\")\" 'Version     : '\"\$news_version\" 'License     : MIT' 'A small dialog that finds' \"- \$news_version-1\""
  "metadata|appstreamcli validate --pedantic finds nothing|quiet appstreamcli validate --pedantic --no-net \"\$metainfo\""
  "metadata|desktop-file-validate finds nothing, not even a hint|quiet desktop-file-validate \"\$src/res/tarvix-update.desktop\""
  "metadata|the AppStream releases are NEWS's entries, with their dates|same \"\$(news_releases)\" \"\$(meta_releases)\""
  "metadata|the AppStream modaliases are the udev rule's controllers|same \"\$(rule_modaliases)\" \"\$(meta_modaliases)\""
  "metadata|the AppStream screenshots are docs/'s at the release's tag|screenshots_in_docs"
)
failed=0
for row in "${rows[@]}"; do
  IFS='|' read -r row_group what check <<<"$row"
  [[ $row_group == "$group" ]] || continue
  if text=$(eval "$check" 2>&1); then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
  [[ -n $text ]] && sed 's/^/    /' <<<"$text"
done
exit $failed
