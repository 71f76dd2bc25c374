#include "common/wildcards.h"

WildcardMarks typedWildcardMarks(int /*argc*/, const char* const* /*argv*/,
                                 const LeadBytes& /*leadBytes*/) {
    return {};
}
