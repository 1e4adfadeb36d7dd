#pragma once
#include <string>

// Line settings in the "115200,n,8,1" form: baud, parity, data bits, stop bits.
struct CommSettings {
    long baud = 9600;
    char parity = 'n';    // n, e, o, m or s
    int dataBits = 8;     // 5 to 8
    int stopBits10 = 10;  // stop bits times ten: 10, 15 or 20
};

// 1 and the fields when the text is well formed, 0 otherwise (fields untouched).
int ParseCommSettings(const std::string& text, CommSettings& settings);
