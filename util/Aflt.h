#pragma once
#include <string>

// The "aflt" tracking value for a country code (exact, case-sensitive);
// "91082" for any code not in the table.
std::string AfltForCountry(const std::string& code);
