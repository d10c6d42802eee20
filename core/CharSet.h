#pragma once

#include "core/VTypes.h"

namespace vela {

// Character sets known to the text converters; the numbers are stored in files and streams.
enum CharSet : int32 {
    VTC_SystemDefault = -2,
    VTC_Unknown = 0,
    VTC_UTF_16_BigEndian = 1,
    VTC_UTF_16_LittleEndian = 2, // the in-memory order of VString
    VTC_UTF_32_BigEndian = 3,
    VTC_UTF_32_LittleEndian = 4,
    VTC_UTF_32_Raw_BigEndian = 5,
    VTC_UTF_32_Raw_LittleEndian = 6, // the form of 32-bit wide literals
    VTC_UTF_8 = 7,
    VTC_UTF_7 = 8,
    VTC_US_ASCII = 9,
    VTC_EBCDIC_037 = 10,
    VTC_IBM437 = 11,

    VTC_MacRoman = 100,
    VTC_Win1252 = 101,
    VTC_MacCE = 102,
    VTC_Win1250 = 103,
    VTC_MacCyrillic = 104,
    VTC_Win1251 = 105,
    VTC_MacGreek = 106,
    VTC_Win1253 = 107,
    VTC_MacTurkish = 108,
    VTC_Win1254 = 109,
    VTC_MacArabic = 110,
    VTC_Win1256 = 111,
    VTC_MacHebrew = 112,
    VTC_Win1255 = 113,
    VTC_MacCE2 = 114,
    VTC_Win1257 = 115,
    VTC_MacChineseSimplified = 116,
    VTC_GBK = 117,
    VTC_MacChineseTraditional = 118,
    VTC_CP950 = 119,
    VTC_MacJapanese = 120,

    VTC_ShiftJIS = 1000,
    VTC_ISO2022JP = 1001,
    VTC_Big5 = 1002,
    VTC_EUC_KR = 1003,
    VTC_KOI8R = 1004,
    VTC_ISO8859_1 = 1005,
    VTC_ISO8859_2 = 1006,
    VTC_ISO8859_3 = 1007,
    VTC_ISO8859_4 = 1008,
    VTC_ISO8859_5 = 1009,
    VTC_ISO8859_6 = 1010,
    VTC_ISO8859_7 = 1011,
    VTC_ISO8859_8 = 1012,
    VTC_ISO8859_9 = 1013,
    VTC_ISO8859_10 = 1014,
    VTC_ISO8859_13 = 1015,
    VTC_GB2312 = 1016,
    VTC_GB2312_80 = 1017,
    VTC_ISO8859_15 = 1018,
    VTC_Windows31J = 1019,

    VTC_UTF_16 = VTC_UTF_16_LittleEndian,
    VTC_UTF_32 = VTC_UTF_32_LittleEndian,
    VTC_UTF_32_Raw = VTC_UTF_32_Raw_LittleEndian,
};

// Line-end modes of text conversion.
enum ECarriageReturnMode : int32 {
    eCRM_NATIVE = 1, // keep line ends as they are
    eCRM_CRLF = 2,
    eCRM_CR = 3,
    eCRM_LF = 4,
};

} // namespace vela
