#!/bin/busybox sh
# PID 1 of the test machine. Mounts what the checks need, loads the kernel modules in the
# order the host wrote into /etc/vmtest/config (dependencies first), runs vm-guest-test and
# ends with one line the host looks for:
#   VMTEST RESULT: PASS
#   VMTEST RESULT: FAIL (<why>)
# then powers the machine off, which ends qemu (-no-reboot). Nothing here may exit: the end
# of PID 1 is a kernel panic.

/bin/busybox --install -s /bin
export PATH=/bin:/opt/kinetra/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
mkdir -p /run && mount -t tmpfs tmpfs /run

finish() {
  echo
  echo "guest uptime: $(cut -d' ' -f1 /proc/uptime) s"
  echo "VMTEST RESULT: $*"
  sync
  poweroff -f
  # Should power-off fail, a reboot also ends qemu under -no-reboot.
  echo b >/proc/sysrq-trigger
  while :; do sleep 60; done
}

if ! . /etc/vmtest/config; then
  finish "FAIL (no /etc/vmtest/config in the initramfs)"
fi

echo "kernel $(uname -r); loading: $MODULES"
for module in $MODULES; do
  if ! insmod "/lib/modules/$module.ko"; then
    finish "FAIL (insmod $module failed)"
  fi
done

# The USB gadget framework is configured through configfs, there once its module is loaded.
if [ -d /sys/kernel/config ]; then
  mount -t configfs configfs /sys/kernel/config
fi

# Daemons of the suite log to syslog; kept in a file the log below shows on failure.
syslogd -O /tmp/syslog

export HOME=/root LD_LIBRARY_PATH=/opt/kinetra/lib
mkdir -p "$HOME"
# GUEST_ARGS holds plain words (names, numbers, paths without spaces): split on purpose.
# shellcheck disable=SC2086
vm-guest-test $GUEST_ARGS
status=$?
if [ "$status" -eq 0 ]; then
  finish "PASS"
fi
if [ -s /tmp/syslog ]; then
  echo "---- system log of the guest ----"
  cat /tmp/syslog
fi
finish "FAIL (vm-guest-test exited with status $status)"
