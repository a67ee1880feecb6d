/* Takes interface 0 of a USB device for itself through usbfs, as the
 * braille display service (brltty) does with USB serial adapters it takes
 * for braille displays: the serial driver lets go and the tty vanishes.
 * Installed in the guest as "brltty"; holds the interface until SIGTERM,
 * then gives it back to the serial driver.
 *
 *   brltty /dev/bus/usb/BBB/DDD */
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <signal.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <unistd.h>

static volatile sig_atomic_t done;

static void stop(int signal) {
  (void)signal;
  done = 1;
}

int main(int argc, char** argv) {
  int fd = argc == 2 ? open(argv[1], O_RDWR) : -1;
  unsigned int interface = 0;
  struct usbdevfs_ioctl detach = {0, USBDEVFS_DISCONNECT, NULL};
  struct usbdevfs_ioctl attach = {0, USBDEVFS_CONNECT, NULL};
  if (fd < 0 || ioctl(fd, USBDEVFS_IOCTL, &detach) != 0 ||
      ioctl(fd, USBDEVFS_CLAIMINTERFACE, &interface) != 0) {
    perror("brltty");
    return 1;
  }
  signal(SIGTERM, stop);
  while (!done) pause();
  ioctl(fd, USBDEVFS_RELEASEINTERFACE, &interface);
  ioctl(fd, USBDEVFS_IOCTL, &attach);
  return 0;
}
