"""zendrik: fixed UHF RFID readers from Python, through libzendrik.so.1.

Open a reader by its address, ask for its identity and settings, read tags one at a time or
continuously:

    import zendrik

    with zendrik.Reader("usb") as reader:          # or "serial:/dev/ttyUSB0", "udp:HOST:PORT"
        print(reader.info())                       # {'kind': 0, 'version': ..., 'serial': ...}
        reader.configure(power=20, buzzer="off")   # checked by reading back
        for event in reader.inventory(absence=3.0):
            print(event.kind, event.epc.hex(), event.card, event.time)

Every failure raises ReaderError, whose ``code`` is the library's result code. The library is
looked up through the ZENDRIK_LIBRARY variable (a path), then the system's library search, then
its soname libzendrik.so.1; LibraryNotFoundError says how to install it when it is missing.
Nothing is compiled: the package uses the library through ctypes.

Listener follows a site's MQTT topics and proves that nothing was missed: each event once, each
reader's (zone's, door's) stream in order, and every number that never came reported as a gap, or
as a loss the daemon announced (StreamChecker holds those rules; check_lines applies them to stored
webhook bodies or event lines). It needs Debian's python3-paho-mqtt.
"""

from .network_modules import discover
from .errors import LibraryNotFoundError, ReaderError
from .event import Event
from .reader import Reader
from .listener import Listener
from .stream_check import StreamChecker, check_lines

__all__ = ["Event", "LibraryNotFoundError", "Listener", "Reader", "ReaderError", "StreamChecker", "check_lines",
           "discover"]
