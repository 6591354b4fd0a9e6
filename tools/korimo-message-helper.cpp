// The program's message helper: sends and reads (see helperMailTransport.h), with libcurl and GMime.
#include "mailHelper.h"
#include "realMailTransport.h"

int main(int argc, char** argv) {
    using korimo::wire::Operation;
    return korimo::runMailHelper(argc, argv, [](const korimo::wire::Request& r) -> QByteArray {
        korimo::RealMailTransport transport(r.options);
        switch (r.operation) {
        case Operation::Read:
            return korimo::wire::encode(transport.read(r.path, r.saveAttachments, r.folder));
        case Operation::Send:
            return korimo::wire::encode(transport.send(r.mail));
        case Operation::ListAll:
        case Operation::Remove:
        case Operation::Save:
            break;
        }
        return {};
    });
}
