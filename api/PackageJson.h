#pragma once
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

// Checked readers for the package document. Each throws the JSON library's
// type_error for a value of the wrong type, and treats a number that does not
// fit the member it fills the same way.
namespace packagejson {

// Any number or boolean, truncated towards zero, within the signed 32-bit range.
int32_t ToInt32(const nlohmann::json& value);
// Any number or boolean within 0 .. 2^64-1.
uint64_t ToUInt64(const nlohmann::json& value);

// Optional members: the fallback when the key is absent.
std::string OptionalString(const nlohmann::json& object, const char* key, const std::string& fallback = {});
bool OptionalBool(const nlohmann::json& object, const char* key, bool fallback = false);
int32_t OptionalInt32(const nlohmann::json& object, const char* key, int32_t fallback = 0);
uint64_t OptionalUInt64(const nlohmann::json& object, const char* key, uint64_t fallback = 0);
std::vector<std::string> OptionalStrings(const nlohmann::json& object, const char* key);

// "sha256" of a package or the product: "" when absent, else the 64 hex
// digits of the file's SHA-256 digest. A value that is not such a text is a
// value of the wrong type.
std::string OptionalSha256(const nlohmann::json& object);

// Required members: the JSON library's out_of_range when the key is absent.
std::string RequiredString(const nlohmann::json& object, const char* key);

// An optional array member: null when the key is absent; throws when the value
// is not an array.
const nlohmann::json* OptionalArray(const nlohmann::json& object, const char* key);

// An object member; throws when the value is not an object.
const nlohmann::json& RequiredObject(const nlohmann::json& object, const char* key);

}  // namespace packagejson
