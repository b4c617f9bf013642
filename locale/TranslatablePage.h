#pragma once

// What the language manager needs of a page: re-apply its texts after the
// language changed.
class TranslatablePage {
public:
    virtual void ApplyTexts() = 0;

protected:
    ~TranslatablePage() = default;
};
