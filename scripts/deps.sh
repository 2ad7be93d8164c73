# Sourced by the scripts: installs the Debian packages named in $@ that are missing.
install_missing() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

BUILD_PACKAGES=(cmake g++ make pkg-config qt6-base-dev libgl-dev libtag1-dev)
# Real FAT, NTFS and exFAT file systems for the tests, made in images and mounted with FUSE, and
# sshfs over an sshd the tests start on 127.0.0.1.
FILE_SYSTEM_TEST_PACKAGES=(dosfstools fusefat ntfs-3g exfatprogs exfat-fuse fuse3 sshfs
                           openssh-server openssh-client e2fsprogs)
# The desktop fonts the window is laid out with in the tests, and Qt's own translations.
UI_TEST_PACKAGES=(fonts-dejavu-core fonts-noto-core fonts-liberation2 fonts-cantarell
                  qt6-translations-l10n xvfb xauth)
# Validating the desktop files, building the Debian packages with debhelper, checking them, and
# installing the result into a throwaway root.
PACKAGE_CHECK_PACKAGES=(desktop-file-utils appstream dpkg-dev debhelper file debootstrap lintian)
