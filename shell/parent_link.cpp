#include "shell/parent_link.h"

#include "shell/startup.h"
#include "shell/udp_endpoint.h"

StatusNotifier* Notifier = nullptr;

namespace {

// Owns the one notifier of the process. Its destruction at exit joins the listener thread
// before the notifier's memory goes, and leaves no dangling Notifier behind.
struct NotifierOwner {
    std::unique_ptr<StatusNotifier> notifier;
    ~NotifierOwner() { Notifier = nullptr; }
};
NotifierOwner Owner;

bool IsParentSwitch(const std::string& argument) {
    return argument.size() == 2 && argument[0] == '\\' &&
           (argument[1] == 'P' || argument[1] == 'p');
}

} // namespace

StatusNotifier::StatusNotifier(std::uint16_t port)
    : server_(std::make_unique<UdpServerEndpoint>()) {
    server_->SetDefaultPort(port);
    server_->SetReadHandler(
        [this](const std::uint8_t* data, std::size_t size) { DatagramRead(data, size); });
    server_->SetReceiveBufferSize(kNotifierReceiveBufferSize);
}

StatusNotifier::~StatusNotifier() = default;

void StatusNotifier::Activate() {
    server_->SetActive(true);
}

void StatusNotifier::SendCode(std::uint8_t code) {
    const std::array<std::uint8_t, 12> datagram = ResultDatagram(code);
    // No retry and no acknowledgement: the outcome is shown to the user either way.
    static_cast<void>(
        server_->SendTo(kParentAddress, kParentPort, datagram.data(), datagram.size()));
}

void StatusNotifier::DatagramRead(const std::uint8_t*, std::size_t) {
    bool idle = false;
    if (Busy.compare_exchange_strong(idle, true))
        Busy.store(false);
}

void StartParentLink() {
    if (ProgramArguments.size() < 2 || !IsParentSwitch(ProgramArguments[1]))
        return;
    // The compact layout constructs both main windows; the second keeps the first one's link,
    // whose socket already holds the port.
    if (Notifier != nullptr)
        return;
    auto notifier = std::make_unique<StatusNotifier>(kNotifierPort);
    notifier->Activate();
    Owner.notifier = std::move(notifier);
    Notifier = Owner.notifier.get();
}

void NotifyParent(std::uint8_t code) {
    if (Notifier != nullptr)
        Notifier->SendCode(code);
}

void EndParentLink() {
    Notifier = nullptr;
    Owner.notifier.reset();
}
