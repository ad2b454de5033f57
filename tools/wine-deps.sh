# What the runs under Wine need: Wine for both architectures, qemu for
# machines that cannot run i386 binaries natively, a virtual display with
# tools to look at it, and a Japanese locale and fonts so that Wine's ANSI
# code page is 932. Sourced after tools/deps.sh.
need_wine() {
    need_packages python3 xvfb xdotool imagemagick fonts-noto-cjk locales qemu-user \
        wine wine64 wine32:i386 wine32-preloader:i386
    if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        $sudo sed -i 's/^# *\(ja_JP\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
        grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
        $sudo locale-gen >/dev/null
    fi
}
