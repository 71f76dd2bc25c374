#include "common/lead_bytes.h"

// On Linux the launcher itself splits the VM's command line, byte by byte as it quoted it, and
// '/' is never part of another character: bytes are characters.
const LeadBytes& ansiLeadBytes() {
    static const LeadBytes none;
    return none;
}
