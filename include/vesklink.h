/*
 * vesklink: the display protocol of the kart displays and their base station.
 *
 * Every display command builds one 128-byte device frame, numbers it with the
 * library's one-byte message id (1 to 254, 254 is followed by 1), writes it to
 * the base station and returns that id; the display names it again in its
 * acknowledgement. Every frame write is followed by a 30 ms pause, so one link
 * carries at most about 30 frames a second.
 *
 * Threads: the library starts no thread and takes no lock. Its message counter
 * and last event sequence are process-wide; make one call at a time.
 *
 * Arguments are 32-bit integers; where a frame field is narrower the command
 * keeps the low bits (a 16-bit field the low 16, an 8-bit field the low 8).
 * Nothing is reported by exception or printed; results are integers.
 *
 * Device handles: InitDevice returns a small positive number naming the open
 * base station, 0 for none. A handle that names no open device (0, closed, or
 * any other value) makes commands write nothing; they still build their frame,
 * take a message id, pause and return the id, and reads return 0.
 *
 * Texts: a null text pointer counts as an empty text, and a null buffer is
 * never written.
 */
#ifndef VESKLINK_H
#define VESKLINK_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(VESKLINK_BUILDING)
#    define VESKLINK_API __declspec(dllexport)
#  else
#    define VESKLINK_API __declspec(dllimport)
#  endif
#else
#  define VESKLINK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Size of every device frame, written or read, over either link. */
#define VESKLINK_FRAME_SIZE 128

/* Value returned by GetLibVersion. */
#define VESKLINK_LIB_VERSION 8

/*
 * Called by the polls for a new event: a display event with its whole 32-bit
 * event code in flag and the display address it names in addr, or a panel
 * event as (55, 0, c). c is the event's sequence number plus 1, 255 wrapping
 * to 0. The result is not used.
 */
typedef int32_t (*VeskEventCallback)(int32_t flag, int32_t addr, int32_t c);

/*
 * Called by the polls for an acknowledgement: addr is the acknowledging
 * display's 32-bit number, nr the message id it acknowledges. The result is
 * not used.
 */
typedef int32_t (*VeskAckCallback)(int32_t addr, int32_t nr);

/* ---- USB link and raw frames ------------------------------------------- */

/*
 * Opens the USB base station (vendor 0x1234, product 0x1236): walks every
 * matching device, configures it (configuration 1) and claims interface 1.
 * The last matching device wins; the walk stops at the first device whose
 * configuration or claim fails and returns the handle held until then.
 * Devices opened but not returned are closed again. When the walk ran to its
 * end the message counter is seeded with a random value from 1 to 253.
 * Returns the device handle, or 0 when no base station was opened.
 */
VESKLINK_API int32_t InitDevice(void);

/* Closes the device named by conn. 0 or an unknown handle does nothing.
 * The message counter keeps its value. */
VESKLINK_API void closeDevice(int32_t conn);

/*
 * Writes the caller's 128-byte frame unchanged to the base station (bulk OUT
 * endpoint 5, 100 ms time-out), then pauses 30 ms. A null frame writes
 * nothing. Takes no message id. Returns 1, whether or not the write succeeded.
 */
VESKLINK_API int32_t sendData(int32_t conn, const uint8_t *frame);

/*
 * Reads one reply frame (bulk IN endpoint 0x82, 10 ms time-out). Returns 1
 * when exactly 128 bytes came and copies them to buffer (at least 128 bytes;
 * a null buffer is not written); returns 0 otherwise, buffer untouched.
 */
VESKLINK_API int32_t readData(int32_t conn, uint8_t *buffer);

/* Returns the library version, 8. Needs no device. */
VESKLINK_API int32_t GetLibVersion(void);

/* ---- Replies ------------------------------------------------------------ */

/*
 * Polls the base station once: reads at most one frame from endpoint 0x82
 * (10 ms time-out) and copies it to buffer (at least 128 bytes) before any
 * callback runs. Then, on the caller's thread and at most one per call:
 *  - an acknowledgement (reply kind 0) whose display number is neither 0 nor
 *    0xFFFF reaches ackCallback;
 *  - an event (reply kind 0xFF) reaches eventCallback unless its sequence
 *    number equals that of the last event read by any poll (a repeat).
 * Callbacks may be null and may call the library's send functions.
 * Returns 1 when a frame other than an event was read; 0 when nothing was
 * read (buffer untouched) or the frame was an event.
 */
VESKLINK_API int32_t readDataWithCallback(int32_t conn, uint8_t *buffer,
                                          VeskEventCallback eventCallback,
                                          VeskAckCallback ackCallback);

/*
 * Reads one remote-control panel frame (bulk IN endpoint 0x83, 10 ms
 * time-out). Every event frame read is acknowledged back to the panel after
 * a 10 ms pause (the frame as read, with frame address 1 and its sequence
 * number plus 1). Returns the event's code (55 for a panel key event, else
 * the 16-bit code word), or 0 when nothing was read, the frame was no event,
 * or the event repeats the last sequence number.
 */
VESKLINK_API int32_t readRemoteControl(int32_t conn);

/* ---- Race signals ------------------------------------------------------- */

/*
 * Shows a flag on display addr (low 16 bits). Flag types 1 to 7 show picture
 * codes 1, 5, 4, 6, 7, 8, 9; any other flag type sends picture code 0 (no flag
 * picture). Returns the message id.
 */
VESKLINK_API int32_t sendFlag(int32_t conn, int32_t addr, int32_t flag);

/* Sets the display's RPM limit to the low 16 bits of limit. Returns the
 * message id. */
VESKLINK_API int32_t setRPMLimit(int32_t conn, int32_t addr, uint32_t limit);

/*
 * Shows picture number picture (low 16 bits); flagBit exactly 1 marks it as a
 * flag screen, any other value does not. Returns the message id.
 */
VESKLINK_API int32_t sendPicture(int32_t conn, int32_t addr, int32_t picture,
                                 int32_t flagBit);

/*
 * Shows the position screen: time and gap in hundredths of a second (low 16
 * bits each), position (low 8 bits) and value (32 bits). Returns the id.
 */
VESKLINK_API int32_t sendCurrentPos(int32_t conn, int32_t addr,
                                    int32_t position, int32_t time,
                                    int32_t gap, int32_t value);

/*
 * Shows the passing screen, picture 3 when mode is 1 and picture 2 otherwise,
 * with the position record of sendCurrentPos and three texts: the position
 * in decimal, the time as m:ss.hh (minutes capped at 9) and the gap as +s.hh,
 * or -s.hh for 0 and below. A negative time shows as -m:ss.hh of its size.
 * Returns the message id.
 */
VESKLINK_API int32_t sendPAssing(int32_t conn, int32_t addr, int32_t position,
                                 int32_t time, int32_t gap, int32_t mode,
                                 int32_t value);

/* ---- Text screens ------------------------------------------------------- */
/*
 * Common arguments: picture (low 16 bits) is the background picture unless
 * textOnly is exactly 1, which shows text only; timeBack (low 16 bits) goes
 * out unchanged. Colours are 24-bit values (bits 24 to 31 ignored) sent as
 * RGB565. Each command returns its message id.
 */

/*
 * Three free text items. Each txtN is a byte string of which at most 14 bytes
 * are taken, up to its first 0 or 0xFF byte; an empty line leaves its whole
 * item zero. fontN (0 to 255) with flagAN and flagBN (each on when exactly 1)
 * make the item's attribute word.
 */
VESKLINK_API int32_t sendMessage(
    int32_t conn, int32_t addr, int32_t picture, int32_t timeBack,
    int32_t textOnly,
    const char *txt1, uint32_t colorA1, uint32_t colorB1, uint32_t x1,
    uint32_t y1, int32_t font1, int32_t flagA1, int32_t flagB1,
    const char *txt2, uint32_t colorA2, uint32_t colorB2, uint32_t x2,
    uint32_t y2, int32_t font2, int32_t flagA2, int32_t flagB2,
    const char *txt3, uint32_t colorA3, uint32_t colorB3, uint32_t x3,
    uint32_t y3, int32_t font3, int32_t flagA3, int32_t flagB3);

/*
 * Two long lines. txt1 and txt2 are raw 32-byte fields (16 UTF-16 units),
 * read in full and sent as they are; a null field sends zeros. fontBlinkN is
 * not used.
 */
VESKLINK_API int32_t sendMessage2(
    int32_t conn, int32_t addr, int32_t picture, int32_t timeBack,
    int32_t textOnly,
    const void *txt1, uint32_t color1, uint32_t x1, uint32_t y1,
    int32_t fontType1, int32_t fontSize1, int32_t fontBlink1,
    const void *txt2, uint32_t color2, uint32_t x2, uint32_t y2,
    int32_t fontType2, int32_t fontSize2, int32_t fontBlink2);

/*
 * Three medium lines, each with its own colour, font type, font size and
 * place. txtN are raw 20-byte fields (10 UTF-16 units), read in full.
 */
VESKLINK_API int32_t sendMessage3(
    int32_t conn, int32_t addr, int32_t picture, int32_t timeBack,
    int32_t textOnly,
    const void *txt1, uint32_t color1, uint32_t x1, uint32_t y1,
    int32_t fontType1, int32_t fontSize1,
    const void *txt2, uint32_t color2, uint32_t x2, uint32_t y2,
    int32_t fontType2, int32_t fontSize2,
    const void *txt3, uint32_t color3, uint32_t x3, uint32_t y3,
    int32_t fontType3, int32_t fontSize3);

/*
 * Four short lines. txtN are raw 16-byte fields (8 UTF-16 units), read in
 * full. Lines 1 and 2 share the style of line 1, lines 3 and 4 that of line 3.
 */
VESKLINK_API int32_t sendMessage4(
    int32_t conn, int32_t addr, int32_t picture, int32_t timeBack,
    int32_t textOnly,
    const void *txt1, uint32_t color1, uint32_t x1, uint32_t y1,
    int32_t fontType1, int32_t fontSize1,
    const void *txt2, uint32_t x2, uint32_t y2,
    const void *txt3, uint32_t color3, uint32_t x3, uint32_t y3,
    int32_t fontType3, int32_t fontSize3,
    const void *txt4, uint32_t x4, uint32_t y4);

/* ---- Font metrics ------------------------------------------------------- */

/*
 * Width of txt in display font 0 to 27: the sum of its first 14 characters'
 * widths, up to its first 0 or 0xFF byte. Other fonts, and a null txt, give
 * 0; bytes outside 32 to 126 count 0. Sends nothing.
 */
VESKLINK_API int32_t getTextWidth(int32_t font, const char *txt);

/* ---- Remote-control panel ----------------------------------------------- */

/*
 * Fills the remote-control panel: four lines of text (each at most 16 bytes,
 * up to its first 0 or 0xFF byte) with two setting bytes each, numbered by the
 * caller's seq (low 8 bits). Takes no message id. Returns 0.
 */
VESKLINK_API int32_t sendDataToRemoteControl(
    int32_t conn,
    const char *txt1, int32_t setA1, int32_t setB1,
    const char *txt2, int32_t setA2, int32_t setB2,
    const char *txt3, int32_t setA3, int32_t setB3,
    const char *txt4, int32_t setA4, int32_t setB4,
    int32_t seq);

/* ---- Serial bus --------------------------------------------------------- */
/*
 * The second link: one serial port, process-wide, on which up to 100 bus
 * stations listen, each under a one-byte bus address (1 to 255). The port is
 * "COM<number>" at 38400 baud, 8 data bits, no parity, 1 stop bit, no flow
 * control, DTR and RTS off, raw. On Linux "COM<n>" is the device named by
 * environment variable VESKLINK_COM<n> when it is set, otherwise
 * /dev/ttyS<n-1>; numbers below 1 name no port.
 *
 * Bus address strings (busAddrs): a zero-terminated string, one byte per
 * station, in the order the stations are served. At most the first 100 bytes
 * are used; a null string names no station. The bus address chooses the
 * station; the display address addr inside the frame is the same as on USB.
 *
 * Every serial twin builds exactly the frame of its USB twin, with the same
 * message numbering, and sends it to each station in turn: one 136-byte bus
 * frame (bus address, 'G', 0, 0, the 128-byte frame, 0, 0, CRC-16/MODBUS low
 * byte first), then a 30 ms pause. A call to n stations therefore takes about
 * n times 30 ms plus the time on the wire (35 ms per frame at 38400 baud).
 * After each bus frame, up to 136 bytes that the stations sent meanwhile are
 * read and dropped.
 *
 * Port not open (never opened, closed, or the last InitDeviceRS failed): the
 * sending twins still build their frame, take their message id and return
 * their usual result; nothing is sent and no pause is made per station
 * (sendMessageRS and sendDataRS still make their one extra pause). The reads
 * return 0 and call no callback.
 *
 * Port failing during an exchange (adapter removed, the other end hung up, a
 * write not finished within 100 ms per byte plus 1000 ms): the port is closed
 * there and then, and stays closed until the next InitDeviceRS. The call that
 * met the failure returns as if the port had been closed before it (a send
 * returns its usual result, a read returns 0; stations served before the
 * failure did get their frame or were reported); no call waits longer than one
 * write time-out, and later calls send nothing and return at once.
 */

/*
 * Opens the bus port "COM<number>", first closing and discarding any port
 * opened before (so a second call moves the library to another port, or
 * reopens the same one). Seeds the message counter with a random value from 1
 * to 253 whether or not the port opened. Returns 0 when the port is open, 1
 * when it could not be opened (no such device, not a serial port, settings
 * refused); the library then has a closed port.
 */
VESKLINK_API int32_t InitDeviceRS(int32_t number);

/* Closes and discards the bus port, if there is one. The message counter
 * keeps its value. Without a port it does nothing. */
VESKLINK_API void closeDeviceRS(void);

/* sendFlag to every station of busAddrs. Returns the message id. */
VESKLINK_API int32_t sendFlagRS(const char *busAddrs, int32_t addr, int32_t flag);

/* setRPMLimit to every station of busAddrs. Returns the message id. */
VESKLINK_API int32_t setRPMLimitRS(const char *busAddrs, int32_t addr, uint32_t limit);

/* sendPicture to every station of busAddrs. Returns the message id. */
VESKLINK_API int32_t sendPictureRS(const char *busAddrs, int32_t addr, int32_t picture,
                                   int32_t flagBit);

/* sendCurrentPos to every station of busAddrs. Returns the message id. */
VESKLINK_API int32_t sendCurrentPosRS(const char *busAddrs, int32_t addr,
                                      int32_t position, int32_t time, int32_t gap,
                                      int32_t value);

/* sendPAssing to every station of busAddrs. Returns the message id. */
VESKLINK_API int32_t sendPAssingRS(const char *busAddrs, int32_t addr,
                                   int32_t position, int32_t time, int32_t gap,
                                   int32_t mode, int32_t value);

/*
 * sendMessage to every station of busAddrs, then one more 30 ms pause after
 * the last station (also when none was served). Returns the message id.
 */
VESKLINK_API int32_t sendMessageRS(
    const char *busAddrs, int32_t addr, int32_t picture, int32_t timeBack,
    int32_t textOnly,
    const char *txt1, uint32_t colorA1, uint32_t colorB1, uint32_t x1,
    uint32_t y1, int32_t font1, int32_t flagA1, int32_t flagB1,
    const char *txt2, uint32_t colorA2, uint32_t colorB2, uint32_t x2,
    uint32_t y2, int32_t font2, int32_t flagA2, int32_t flagB2,
    const char *txt3, uint32_t colorA3, uint32_t colorB3, uint32_t x3,
    uint32_t y3, int32_t font3, int32_t flagA3, int32_t flagB3);

/* sendMessage2 to every station of busAddrs. Returns the message id. */
VESKLINK_API int32_t sendMessage2RS(
    const char *busAddrs, int32_t addr, int32_t picture, int32_t timeBack,
    int32_t textOnly,
    const void *txt1, uint32_t color1, uint32_t x1, uint32_t y1,
    int32_t fontType1, int32_t fontSize1, int32_t fontBlink1,
    const void *txt2, uint32_t color2, uint32_t x2, uint32_t y2,
    int32_t fontType2, int32_t fontSize2, int32_t fontBlink2);

/* sendMessage3 to every station of busAddrs. Returns the message id. */
VESKLINK_API int32_t sendMessage3RS(
    const char *busAddrs, int32_t addr, int32_t picture, int32_t timeBack,
    int32_t textOnly,
    const void *txt1, uint32_t color1, uint32_t x1, uint32_t y1,
    int32_t fontType1, int32_t fontSize1,
    const void *txt2, uint32_t color2, uint32_t x2, uint32_t y2,
    int32_t fontType2, int32_t fontSize2,
    const void *txt3, uint32_t color3, uint32_t x3, uint32_t y3,
    int32_t fontType3, int32_t fontSize3);

/* sendMessage4 to every station of busAddrs. Returns the message id. */
VESKLINK_API int32_t sendMessage4RS(
    const char *busAddrs, int32_t addr, int32_t picture, int32_t timeBack,
    int32_t textOnly,
    const void *txt1, uint32_t color1, uint32_t x1, uint32_t y1,
    int32_t fontType1, int32_t fontSize1,
    const void *txt2, uint32_t x2, uint32_t y2,
    const void *txt3, uint32_t color3, uint32_t x3, uint32_t y3,
    int32_t fontType3, int32_t fontSize3,
    const void *txt4, uint32_t x4, uint32_t y4);

/* sendDataToRemoteControl to every station of busAddrs. Takes no message
 * id. Returns 0. */
VESKLINK_API int32_t sendDataToRemoteControlRS(
    const char *busAddrs,
    const char *txt1, int32_t setA1, int32_t setB1,
    const char *txt2, int32_t setA2, int32_t setB2,
    const char *txt3, int32_t setA3, int32_t setB3,
    const char *txt4, int32_t setA4, int32_t setB4,
    int32_t seq);

/*
 * Sends the caller's 128-byte frame unchanged to every station of busAddrs,
 * then one more 30 ms pause (also when no station was served). A null frame
 * sends nothing but still pauses. Takes no message id. Returns 1.
 */
VESKLINK_API int32_t sendDataRS(const char *busAddrs, const uint8_t *frame);

/*
 * Asks the one station busAddr (its low 8 bits) for its reply: a 4-byte read
 * request (bus address, 'F', CRC-16/MODBUS low byte first), a 30 ms pause,
 * then whatever has arrived, at most 136 bytes, without waiting further.
 * Exactly 136 bytes are a reply, taken on its length alone (its CRC, address
 * and marker are not checked): its bytes 4 to 131 are copied to buffer (at
 * least 128 bytes; a null buffer is not written) and the result is 1.
 * Anything shorter, or a port that is not open, gives 0 with buffer untouched;
 * the bytes of an answer that came too late wait in the port for the next
 * read, which takes them first.
 */
VESKLINK_API int32_t readDataRS(int32_t busAddr, uint8_t *buffer);

/*
 * The serial poll: asks each station of busAddrs in turn for its reply, as
 * readDataRS does, copies each reply to buffer (so buffer ends with the last
 * one read) and handles it as readDataWithCallback does, sharing with the USB
 * polls the last event sequence that marks repeats: an event from one station
 * with the sequence number of the event just read from another is a repeat.
 * Stops at the first station that gives no complete reply, and returns 0 then,
 * even when stations before it were reported. Otherwise returns 1 when the
 * last station's reply was no event, 0 when it was an event. An empty or null
 * busAddrs polls nothing and returns 0. Callbacks run on the caller's thread,
 * at most one per station, and may call the send functions.
 */
VESKLINK_API int32_t readDataWithCallbackRS(const char *busAddrs, uint8_t *buffer,
                                            VeskEventCallback eventCallback,
                                            VeskAckCallback ackCallback);

#ifdef __cplusplus
}
#endif

#endif /* VESKLINK_H */
