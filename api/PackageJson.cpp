#include "PackageJson.h"

#include <cmath>
#include <limits>

#include "util/Digest.h"

namespace packagejson {
namespace {

[[noreturn]] void WrongType(const nlohmann::json& value, const char* what) {
    throw nlohmann::json::type_error::create(302, std::string("type must be ") + what + ", but is " +
                                                      (value.is_number() ? std::string("a number out of range")
                                                                         : std::string(value.type_name())),
                                             &value);
}

}  // namespace

int32_t ToInt32(const nlohmann::json& value) {
    using limits = std::numeric_limits<int32_t>;
    if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
    if (value.is_number_unsigned()) {
        const auto n = value.get<uint64_t>();
        if (n <= static_cast<uint64_t>(limits::max())) return static_cast<int32_t>(n);
    } else if (value.is_number_integer()) {
        const auto n = value.get<int64_t>();
        if (n >= limits::min() && n <= limits::max()) return static_cast<int32_t>(n);
    } else if (value.is_number_float()) {
        // Truncation is defined only while the result fits.
        const double d = std::trunc(value.get<double>());
        if (d >= limits::min() && d <= limits::max()) return static_cast<int32_t>(d);
    }
    WrongType(value, "a 32-bit integer");
}

uint64_t ToUInt64(const nlohmann::json& value) {
    if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
    if (value.is_number_unsigned()) return value.get<uint64_t>();
    if (value.is_number_integer()) {
        const auto n = value.get<int64_t>();
        if (n >= 0) return static_cast<uint64_t>(n);
    } else if (value.is_number_float()) {
        const double d = std::trunc(value.get<double>());
        // 2^64 itself does not fit; every double below it does.
        if (d >= 0.0 && d < 18446744073709551616.0) return static_cast<uint64_t>(d);
    }
    WrongType(value, "an unsigned 64-bit integer");
}

std::string OptionalString(const nlohmann::json& object, const char* key, const std::string& fallback) {
    const auto it = object.find(key);
    return it == object.end() ? fallback : it->get<std::string>();
}

std::string OptionalSha256(const nlohmann::json& object) {
    const auto it = object.find("sha256");
    if (it == object.end()) return std::string();
    const std::string digest = it->get<std::string>();
    if (!IsSha256Hex(digest)) WrongType(*it, "64 hex digits");
    return digest;
}

bool OptionalBool(const nlohmann::json& object, const char* key, bool fallback) {
    const auto it = object.find(key);
    return it == object.end() ? fallback : it->get<bool>();
}

int32_t OptionalInt32(const nlohmann::json& object, const char* key, int32_t fallback) {
    const auto it = object.find(key);
    return it == object.end() ? fallback : ToInt32(*it);
}

uint64_t OptionalUInt64(const nlohmann::json& object, const char* key, uint64_t fallback) {
    const auto it = object.find(key);
    return it == object.end() ? fallback : ToUInt64(*it);
}

const nlohmann::json* OptionalArray(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) return nullptr;
    if (!it->is_array()) WrongType(*it, "an array");
    return &*it;
}

std::vector<std::string> OptionalStrings(const nlohmann::json& object, const char* key) {
    const nlohmann::json* array = OptionalArray(object, key);
    return array ? array->get<std::vector<std::string>>() : std::vector<std::string>();
}

std::string RequiredString(const nlohmann::json& object, const char* key) {
    return object.at(key).get<std::string>();
}

const nlohmann::json& RequiredObject(const nlohmann::json& object, const char* key) {
    const nlohmann::json& value = object.at(key);
    if (!value.is_object()) WrongType(value, "an object");
    return value;
}

}  // namespace packagejson
