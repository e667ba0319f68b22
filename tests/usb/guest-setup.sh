# Sourced in the test machine: the USB gadget stack on dummy_hcd (UDCS device controllers, each with
# its host port), configfs, and udev, so that hidraw nodes, their links and monitor events are real.
UDCS=${UDCS:-4}
for module in usb-common usbcore udc-core configfs libcomposite usb_f_hid hid usbhid hid-generic; do
  modprobe -d "$USB_VM_MODULES" "$module" || echo "guest: modprobe $module failed"
done
modprobe -d "$USB_VM_MODULES" dummy_hcd num="$UDCS" || echo "guest: modprobe dummy_hcd failed"
mountpoint -q /sys/kernel/config || mount -t configfs none /sys/kernel/config
mkdir -p /run/udev/rules.d
/lib/systemd/systemd-udevd --daemon --resolve-names=never 2>/dev/null
timeout 20 udevadm settle || echo "guest: udevadm settle timed out"
