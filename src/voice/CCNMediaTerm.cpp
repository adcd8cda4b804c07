#include "voice/CCNMediaTerm.h"

namespace talvora {

TCCNMediaTerm::TCCNMediaTerm(Connector connector) : m_connector(std::move(connector)) {}

std::shared_ptr<ICCNMediaTerm> TCCNMediaTerm::DefaultInterface() {
    if (!m_instance) {
        m_instance = m_connector();
    }
    return m_instance;
}

} // namespace talvora
