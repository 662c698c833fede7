# Debian packages needed to build Mirabex and to run its tests (sourced by the scripts).
BUILD_PACKAGES="cmake make g++ qt6-base-dev qt6-base-dev-tools libgl-dev"
TEST_PACKAGES="binutils-mingw-w64-x86-64 xvfb xauth desktop-file-utils appstream clang libclang-rt-dev clang-format qt6-l10n-tools dbus at-spi2-core python3-pyatspi gir1.2-atspi-2.0"
# The Windows build: the MinGW-w64 cross-compilers, Wine to run it, the MSI tools.
WINDOWS_PACKAGES="curl g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 ninja-build wine wine64 msitools wixl zip unzip xvfb xauth xdotool x11-apps fonts-dejavu-core imagemagick"
