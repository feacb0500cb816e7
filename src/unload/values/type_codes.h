// Column type codes: COL$ TYPE# plus ZOR's own codes (0 skip, 108 and 109
// the array kinds, 253 unknown, 254 NCHAR, 255 NCLOB).
#pragma once

#include <cstdint>

constexpr uint8_t kTypeSkip = 0;
constexpr uint8_t kTypeVARCHAR2 = 1;
constexpr uint8_t kTypeNUMBER = 2;
constexpr uint8_t kTypeLONG = 8;
constexpr uint8_t kTypeVARCHAR = 9;
constexpr uint8_t kTypeDATE = 12;
constexpr uint8_t kTypeCHAR = 96;
constexpr uint8_t kTypeBINARYFLOAT = 100;
constexpr uint8_t kTypeBINARYDOUBLE = 101;
constexpr uint8_t kTypeNumberArray = 108;
constexpr uint8_t kTypeCharArray = 109;
constexpr uint8_t kTypeCLOB = 112;
constexpr uint8_t kTypeBLOB = 113;
constexpr uint8_t kTypeTIMESTAMP = 180;
constexpr uint8_t kTypeTIMESTAMPTZ = 181;
constexpr uint8_t kTypeTIMESTAMPLTZ = 231;
constexpr uint8_t kTypeNCHAR = 254;
constexpr uint8_t kTypeNCLOB = 255;

inline bool isLobType(uint8_t type)
{
    return type == kTypeCLOB || type == kTypeBLOB || type == kTypeNCLOB;
}
