#!/bin/sh
# Makes the Windows package from a cross-built Mirabex.exe:
#   <build>/Mirabex-1.0.0-win64/      the portable folder (program, DLLs, plugins, settings
#                                     templates with CRLF line ends, LISEZMOI.txt)
#   <build>/Mirabex-1.0.0-win64.zip   that folder, zipped
#   <build>/Mirabex-1.0.0-win64.msi   a per-user installer (wixl)
# Usage: windows-package.sh BUILD_DIR QT_PREFIX
#        windows-package.sh --msi VERSION BUILD_DIR   (only the MSI, as version VERSION, from the
#                                                     folder already made: for the upgrade check)
set -eu
msi_only=""
if [ "$1" = "--msi" ]; then
    msi_only=$2
    shift 2
fi
build=$(cd "$1" && pwd)
qt=${2:-}
root=$(cd "$(dirname "$0")/.." && pwd)
version=1.0.0
name=Mirabex-$version-win64
folder="$build/$name"
msi_version=${msi_only:-$version}
msi="$build/Mirabex-$msi_version-win64.msi"

# The portable folder and its zip.
if [ -z "$msi_only" ]; then
    rm -rf "$folder" "$folder.zip" "$msi"
    mkdir -p "$folder/platforms" "$folder/styles" "$folder/imageformats"
    cp "$build/bin/Mirabex.exe" "$folder/"
    for dll in Qt6Core Qt6Gui Qt6Widgets; do
        cp "$qt/bin/$dll.dll" "$folder/"
    done
    cp "$qt/plugins/platforms/qwindows.dll" "$folder/platforms/"
    cp "$qt/plugins/styles/qmodernwindowsstyle.dll" "$folder/styles/"
    # The window icon is an .ico file.
    cp "$qt/plugins/imageformats/qico.dll" "$folder/imageformats/"
    # The MinGW-w64 runtime.
    gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
    for dll in libstdc++-6.dll libgcc_s_seh-1.dll; do
        cp "$gcc_dir/$dll" "$folder/"
    done
    cp /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$folder/"
    find "$folder" -name '*.exe' -o -name '*.dll' | while read -r file; do
        x86_64-w64-mingw32-strip --strip-unneeded "$file"
    done

    # The settings templates, with Windows paths and CRLF line ends.
    sed -e 's|^MainDir=/chemin/vers/arborescence|MainDir=C:\\Chemin\\vers\\arborescence|' \
        -e 's|/srv/app/prod|D:\\app\\prod|; s|/srv/app/dev|D:\\app\\dev|' \
        -e 's/$/\r/' "$root/packaging/config.ini" > "$folder/config.ini"
    sed -e 's|/srv/app/prod|D:\\app\\prod|; s|/srv/app/dev|D:\\app\\dev|' \
        -e 's/$/\r/' "$root/packaging/values.ini" > "$folder/values.ini"
    cp "$root/packaging/windows/LISEZMOI.txt" "$folder/"

    (cd "$build" && zip -q -r -X "$name.zip" "$name")
fi

# The installer: one component per file, the settings files made permanent and never
# overwritten, so that an upgrade (or an uninstall) keeps the user's settings.
wxs="$build/mirabex.wxs"
component() { # id, file path relative to the folder
    printf '            <Component Id="%s" Guid="*"><File Id="%s" Source="%s/%s" KeyPath="yes"/></Component>\n' \
        "$1" "$1" "$name" "$2"
}
{
    cat <<WXS
<?xml version="1.0" encoding="windows-1252"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Mirabex" Language="1036" Codepage="1252" Version="$msi_version"
           Manufacturer="Mirabex" UpgradeCode="{6E1F7C1A-3B2D-4C5E-9F80-1A2B3C4D5E6F}">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perUser"
             Description="Mirabex $msi_version" Manufacturer="Mirabex"
             Comments="Bascule une arborescence de fichiers de configuration entre production et développement"/>
    <MajorUpgrade DowngradeErrorMessage="Une version plus récente de Mirabex est déjà installée."/>
    <Media Id="1" Cabinet="mirabex.cab" EmbedCab="yes"/>
    <Icon Id="mirabex.ico" SourceFile="mirabex.ico"/>
    <Property Id="ARPPRODUCTICON" Value="mirabex.ico"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="LocalAppDataFolder">
        <Directory Id="ProgramsFolder" Name="Programs">
          <Directory Id="INSTALLDIR" Name="Mirabex">
            <Component Id="MirabexExe" Guid="*">
              <File Id="MirabexExe" Source="$name/Mirabex.exe" KeyPath="yes">
                <Shortcut Id="StartMenuShortcut" Directory="ProgramMenuFolder" Name="Mirabex"
                          Description="Bascule une arborescence entre production et développement"
                          WorkingDirectory="INSTALLDIR" Icon="mirabex.ico" IconIndex="0"
                          Advertise="no"/>
              </File>
            </Component>
WXS
    for file in Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll libstdc++-6.dll libgcc_s_seh-1.dll \
            libwinpthread-1.dll LISEZMOI.txt config.ini values.ini; do
        component "$(echo "$file" | tr -c 'A-Za-z0-9\n' '_')" "$file"
    done
    for sub in platforms/qwindows.dll styles/qmodernwindowsstyle.dll imageformats/qico.dll; do
        dir=$(dirname "$sub")
        echo "            <Directory Id=\"dir_$dir\" Name=\"$dir\">"
        component "$(echo "$sub" | tr -c 'A-Za-z0-9\n' '_')" "$sub"
        echo "            </Directory>"
    done
    cat <<WXS
          </Directory>
        </Directory>
      </Directory>
      <Directory Id="ProgramMenuFolder"/>
    </Directory>
    <Feature Id="Complete" Level="1">
      <ComponentRef Id="MirabexExe"/>
WXS
    for file in Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll libstdc++-6.dll libgcc_s_seh-1.dll \
            libwinpthread-1.dll LISEZMOI.txt config.ini values.ini platforms/qwindows.dll \
            styles/qmodernwindowsstyle.dll imageformats/qico.dll; do
        echo "      <ComponentRef Id=\"$(echo "$file" | tr -c 'A-Za-z0-9\n' '_')\"/>"
    done
    cat <<WXS
    </Feature>
  </Product>
</Wix>
WXS
} | iconv -f UTF-8 -t WINDOWS-1252 > "$wxs"
# wixl takes the sources relative to the folder it runs in.
cp "$root/resources/icon.ico" "$build/mirabex.ico"
rm -f "$msi"
(cd "$build" && wixl -a x64 -o "$msi" mirabex.wxs)

# Permanent (0x10) and never overwritten (0x80): wixl has no attribute for these, the Component
# table is edited in the package.
tables="$build/msi-tables"
rm -rf "$tables"
mkdir -p "$tables"
msiinfo export "$msi" Component > "$tables/Component.idt"
awk -F'\t' 'BEGIN { OFS = "\t" }
    NR > 3 && ($1 == "config_ini" || $1 == "values_ini") { $4 = $4 + 144 }
    { print }' "$tables/Component.idt" > "$tables/Component.new"
mv "$tables/Component.new" "$tables/Component.idt"
msibuild "$msi" -i "$tables/Component.idt"
rm -rf "$tables"

ls -l "$msi"
[ -n "$msi_only" ] || ls -l "$folder.zip"
