// A temporary device root laid out like the demo unit's resident volumes (flash volumes, the
// main application, the shell and the libraries in "Windows", empty media slots), removed
// when the object goes. `quarrin check --medium` puts a bare card into one of its slots.
#pragma once

#include <string>

namespace quarrin::platform {

class ScratchUnit {
public:
    ScratchUnit();
    ~ScratchUnit();
    ScratchUnit(const ScratchUnit&) = delete;
    ScratchUnit& operator=(const ScratchUnit&) = delete;

    // Empty when the folder could not be made.
    const std::string& Root() const { return m_root; }

private:
    std::string m_root;
};

}  // namespace quarrin::platform
