#!/usr/bin/env bash
# Makes the emulated machine's disk image for the 32-bit tree's Wine tests, once, and keeps it:
# Debian 12 (amd64 with i386 added) from Debian's own packages, with Debian's kernel (which runs
# 32-bit programs) and every package those tests start. A new image is made only when this
# script (its package list included) changes; older ones are removed.
#   image.sh          prints the folder of the image (vmlinuz, initrd.img, root.img), making it
#                     first where it is missing
#   image.sh --path   prints the folder it would use, made or not (exit 1 when not made)
# TOLVARO_VM_CACHE: where images are kept (default /var/cache/tolvaro/vm32).
# Needs root (debootstrap, chroot), debootstrap and e2fsprogs; takes 5-10 minutes.
set -eEuo pipefail
CACHE=${TOLVARO_VM_CACHE:-/var/cache/tolvaro/vm32}

# What the tests run in the machine: Wine and its display, the locales they use, the tools the
# scripts call, and the run-time libraries of the natively built sandbox and relay.
PACKAGES=(
  linux-image-amd64 systemd-sysv udev kmod procps
  wine wine32:i386 wine64 xvfb xauth locales
  openssl libssl3 libcpp-httplib0.11 libqrencode4 qrencode curl python3 chromium
  msitools osslsigncode binutils-mingw-w64-i686
)

key=$(sha256sum "$0" | cut -c1-16)
dir=$CACHE/$key
if [ "${1:-}" = --path ]; then
  echo "$dir"
  [ -f "$dir/ready" ]
  exit
fi
if [ -f "$dir/ready" ]; then
  echo "$dir"
  exit 0
fi
[ "$(id -u)" -eq 0 ] || { echo "image.sh: making the image needs root" >&2; exit 1; }

mkdir -p "$CACHE"
work=$dir.new
root=$work/root
mounted=()
cleanup() {
  local m
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[$i]}" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work"

# The host's own Debian mirror (its package registry), or Debian's.
mirror=$(sed -n 's/^URIs: *\(\S*\/debian\)\/\?$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -1)
[ -n "$mirror" ] || mirror=$(sed -n 's/^deb \(\[[^]]*\] \)\?\(\S*\/debian\)\/\? bookworm .*/\2/p' /etc/apt/sources.list 2>/dev/null | head -1)
mirror=${mirror:-http://deb.debian.org/debian}
echo "== debootstrap bookworm from $mirror" >&2
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
  { tail -20 "$work/debootstrap.log" >&2; echo "image.sh: debootstrap failed" >&2; exit 1; }

for m in proc sys dev dev/pts; do
  mkdir -p "$root/$m"
  mount --bind "/$m" "$root/$m"
  mounted+=("$root/$m")
done
cp /etc/apt/sources.list.d/*.sources "$root/etc/apt/sources.list.d/" 2>/dev/null || true
[ ! -s /etc/apt/sources.list ] || cp /etc/apt/sources.list "$root/etc/apt/sources.list"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"

in_root() { chroot "$root" /usr/bin/env DEBIAN_FRONTEND=noninteractive LC_ALL=C "$@"; }
echo "== packages: ${PACKAGES[*]}" >&2
{
  in_root dpkg --add-architecture i386
  in_root apt-get update -qq
  in_root apt-get install -y -qq --no-install-recommends initramfs-tools
  # The root file system and the shared folders come over virtio: their modules go into the
  # initramfs before the kernel is installed (which makes it).
  printf '%s\n' 9p 9pnet 9pnet_virtio virtio_blk virtio_pci ext4 >>"$root/etc/initramfs-tools/modules"
  # shellcheck disable=SC2086
  in_root apt-get install -y -qq --no-install-recommends "${PACKAGES[@]}"
} >"$work/packages.log" 2>&1 || { tail -30 "$work/packages.log" >&2; echo "image.sh: installing the packages failed" >&2; exit 1; }

sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/; s/^# *\(en_US.UTF-8 UTF-8\)/\1/' "$root/etc/locale.gen"
in_root locale-gen >/dev/null
printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' >"$root/etc/hosts"
echo tolvaro-vm32 >"$root/etc/hostname"
: >"$root/etc/machine-id"

# At boot: the control folder shared by the host, and its agent (tools/vm32/vmjob.py, copied
# there by each start, so the image does not change with it).
cat >"$root/usr/local/sbin/tolvaro-agent" <<'AGENT'
#!/bin/sh
mkdir -p /mnt/ctl
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=none ctl /mnt/ctl || { echo "tolvaro-agent: no control share"; poweroff -f; }
exec python3 /mnt/ctl/vmjob.py agent /mnt/ctl
AGENT
chmod +x "$root/usr/local/sbin/tolvaro-agent"
cat >"$root/etc/systemd/system/tolvaro-agent.service" <<'UNIT'
[Unit]
Description=Runs the host's jobs (tools/vm32/vmjob.py)
After=local-fs.target systemd-tmpfiles-setup.service
[Service]
Type=simple
ExecStart=/usr/local/sbin/tolvaro-agent
StandardOutput=journal+console
StandardError=journal+console
KillMode=process
[Install]
WantedBy=multi-user.target
UNIT
in_root systemctl enable tolvaro-agent.service >/dev/null 2>&1
# Nothing else to do at boot: no timers, no login prompts on the serial line.
in_root systemctl mask apt-daily.timer apt-daily-upgrade.timer e2scrub_all.timer fstrim.timer \
  serial-getty@ttyS0.service getty@tty1.service systemd-timesyncd.service >/dev/null 2>&1 || true
rm -f "$root/usr/sbin/policy-rc.d" "$root/etc/resolv.conf"
in_root apt-get clean

for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[$i]}"; done
mounted=()
cp "$(ls -1 "$root"/boot/vmlinuz-* | sort -V | tail -1)" "$work/vmlinuz"
cp "$(ls -1 "$root"/boot/initrd.img-* | sort -V | tail -1)" "$work/initrd.img"
echo "== root.img" >&2
truncate -s 8G "$work/root.img"
mkfs.ext4 -q -F -L tolvaro32 -d "$root" "$work/root.img"
rm -rf "$root"
# Older images of other package lists go; this one becomes the image.
find "$CACHE" -mindepth 1 -maxdepth 1 -type d ! -name "$key" ! -name "$key.new" -exec rm -rf {} +
rm -rf "$dir"
mv "$work" "$dir"
touch "$dir/ready"
echo "$dir"
