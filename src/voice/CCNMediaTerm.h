#pragma once

#include "voice/CCNSMTLib.h"

#include <functional>
#include <memory>

namespace talvora {

// The media terminal component as its host window holds it: not connected at first; the first
// use connects it (attaching to the process's running terminal, or creating one) and the
// connection then lasts until the host goes. Every caller gets a reference to the one instance.
class TCCNMediaTerm {
public:
    // Produces the terminal when the component connects; may raise an Error, which then reaches
    // whoever asked for the interface.
    using Connector = std::function<std::shared_ptr<ICCNMediaTerm>()>;

    explicit TCCNMediaTerm(Connector connector);

    // A reference to the terminal, connecting on first use.
    std::shared_ptr<ICCNMediaTerm> DefaultInterface();
    bool connected() const { return m_instance != nullptr; }

private:
    Connector m_connector;
    std::shared_ptr<ICCNMediaTerm> m_instance;
};

} // namespace talvora
