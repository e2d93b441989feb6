#pragma once
// The one thing the profile and codec lists need of a combo box: appending an item.

#include <string>

namespace kestrelle {

class ComboSink {
public:
    virtual ~ComboSink() = default;
    virtual void addItem(const std::string& text) = 0;
};

}  // namespace kestrelle
