#include <windows.h>

#include "common/lead_bytes.h"

const LeadBytes& ansiLeadBytes() {
    static const LeadBytes leadBytes = [] {
        LeadBytes bytes;
        for (unsigned value = 0x80; value <= 0xFF; ++value) {
            if (IsDBCSLeadByte(static_cast<BYTE>(value)) != FALSE) {
                bytes.add(static_cast<unsigned char>(value), static_cast<unsigned char>(value));
            }
        }
        return bytes;
    }();
    return leadBytes;
}
