/* tiny_hid: the program's only access to HID devices.
 *
 * Several libraries implement this header and the build links one of them
 * into each program:
 *   device_core.cpp over hidapi/ or windows/
 *              a real device: one read core over hidapi's hidraw backend
 *              (Linux) or over Windows' own HID stack (glowbrand)
 *   scripted/  a remote played from a script file, for tests and replays
 *              (glowbrand-scripted)
 *   virtual/   a remote played at the keyboard (glowbrand-virtual)
 *
 * Reports are passed in the caller's buffer of TINY_HID_BUFFER_SIZE bytes with
 * the report identifier in byte 0. Every function is safe to call with any
 * handle value: an unknown or closed handle is simply a failure.
 */
#ifndef TINY_HID_H
#define TINY_HID_H

#include <stdint.h>

#define TINY_HID_BUFFER_SIZE 256

/* ReadReport's return when the device went away and has just been opened
 * again: nothing is delivered, and the caller puts the device back in the
 * state it wants (see ReadReport). */
#define TINY_HID_REOPENED (-2)

/* TryOpenHidHandle's returns when it opens nothing: no such device is
 * present; one is, but this user may not open it (its node's permissions);
 * one is, but another program holds it (Windows); one is, but the system
 * would not open it for another reason. */
#define TINY_HID_ABSENT (-1)
#define TINY_HID_DENIED (-3)
#define TINY_HID_HELD (-4)
#define TINY_HID_REFUSED (-5)

/* Room for a device's path in TinyHidDevice, terminating zero included. */
#define TINY_HID_PATH_SIZE 512

/* The bus a listed device is on, as far as the system tells. */
#define TINY_HID_BUS_OTHER 0
#define TINY_HID_BUS_BLUETOOTH 1

/* One HID device present, as ListHidDevices describes it. */
typedef struct TinyHidDevice {
    char path[TINY_HID_PATH_SIZE]; /* the system's name: /dev/hidraw3, \\?\hid#... */
    int32_t vendorId;
    int32_t productId;
    int32_t bus; /* TINY_HID_BUS_BLUETOOTH or TINY_HID_BUS_OTHER */
} TinyHidDevice;

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the first HID device with these identifiers.
 *
 * Returns a small non-negative handle, or -1 when no such device is present
 * or it cannot be opened. */
int32_t OpenHidHandle(int32_t vendorId, int32_t productId);

/* Opens the first HID device with these identifiers, as OpenHidHandle does,
 * and says why when it cannot.
 *
 * Returns a small non-negative handle, or TINY_HID_ABSENT when no such
 * device is present (or the library has no handle left), TINY_HID_DENIED
 * when one is present but this user may not open it, TINY_HID_HELD when
 * another program holds it, TINY_HID_REFUSED when the system refused it for
 * another reason. */
int32_t TryOpenHidHandle(int32_t vendorId, int32_t productId);

/* Lists the HID devices present with these identifiers, without opening
 * them, in the order the opens above would try them. Fills at most capacity
 * entries of devices (which may be NULL when capacity is 0); a path too long
 * for the entry is cut, still terminated.
 *
 * Returns how many such devices are present, which may be more than
 * capacity, or -1 when the system cannot be asked. */
int32_t ListHidDevices(int32_t vendorId, int32_t productId, TinyHidDevice* devices,
                       int32_t capacity);

/* Delivers one input report into buffer (TINY_HID_BUFFER_SIZE bytes): the
 * newest one pending. Data reports that piled up while the caller was busy
 * are dropped except the newest, so a slow caller never acts on stale motion;
 * a status report or an answer (0x20 to 0x22) among them is held and
 * delivered by a following read, after the newest data.
 * When nothing is pending it waits for the next report, indefinitely if the
 * device stays silent, unless reads on the handle are cancelled (see
 * CancelReadReport). Never writes past TINY_HID_BUFFER_SIZE bytes.
 *
 * A device that fails (switched off, out of range) does not end the handle:
 * reads then wait as for a silent device while the library looks for it to
 * come back, and writes fail. When it is back the waiting read returns
 * TINY_HID_REOPENED at once, before any of its reports: the device has
 * forgotten what it was told (reporting mode, LEDs) and may have a motor
 * still running, and the library does not restore it itself; the caller
 * sends what it needs and reads on. Reports sent while nobody listened are
 * never delivered.
 *
 * Returns the report's length in bytes (also stored in *count), 0 when the
 * read was cancelled and nothing was delivered, TINY_HID_REOPENED as above,
 * or -1 on a bad handle. The buffer and *count are untouched unless a report
 * is delivered. */
int32_t ReadReport(int32_t handle, uint8_t* buffer, uint32_t* count);

/* Sends the output report whose identifier is buffer[0], cut to the length
 * the Wii Remote expects for that identifier, identifier included: the
 * lengths of OutputReportLength in remote_protocol.h, from 2 bytes (LEDs,
 * rumble) to 22 (memory writes, speaker data). Any other identifier is
 * refused unsent. Where the platform accepts reports
 * of that length, nothing beyond it is sent: some Bluetooth stacks make the
 * remote reject padded reports. Where the platform only takes whole reports
 * of the device's declared output length, the library pads the report with
 * zero bytes up to that length; the bytes that count stay the same.
 *
 * Returns the report's length as above, padding not counted (also stored in
 * *count), or -1 when the identifier is refused, the handle is bad or the
 * device fails or is gone. */
int32_t WriteReport(int32_t handle, const uint8_t* buffer, uint32_t* count);

/* Releases the device. Cancellation state of the handle goes with it.
 *
 * Returns 0, or -1 for a handle that is not open. */
int32_t CloseHidHandle(int32_t handle);

/* Cancels reads on handle while cancel is non-zero: a ReadReport waiting on
 * it returns 0 within about 10 ms, and later ones return 0 at once, until
 * this is called again with cancel 0. Lets another thread, or a signal
 * handler, free a thread blocked in a read without killing it. It only sets
 * a lock-free flag, so it is async-signal-safe.
 *
 * Returns 0, or -1 for a handle outside the library's range. */
int32_t CancelReadReport(int32_t handle, int32_t cancel);

#ifdef __cplusplus
}
#endif

#endif /* TINY_HID_H */
