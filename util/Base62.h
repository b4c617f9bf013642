#pragma once
#include <string>
#include <vector>

// The bytes read as one big-endian unsigned number, written in base 62 with the
// alphabet 0-9a-zA-Z and no leading zeros; leading zero bytes add nothing.
std::string Base62Encode(const std::vector<unsigned char>& bytes);
// Offer ids: Base62Encode over the bytes of s.
std::string EncodeId(const std::string& s);
