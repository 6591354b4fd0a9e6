// The program's POP3 helper: lists, removes and saves (see helperMailTransport.h). It links the POP3
// transport alone: no libcurl, no GMime.
#include "mailHelper.h"
#include "pop3Transport.h"

int main(int argc, char** argv) {
    using korimo::wire::Operation;
    return korimo::runMailHelper(argc, argv, [](const korimo::wire::Request& r) -> QByteArray {
        const korimo::Pop3Transport pop3(r.options);
        switch (r.operation) {
        case Operation::ListAll:
            return korimo::wire::encode(pop3.listAll(r.boxes, r.cacheFolder));
        case Operation::Remove:
            return korimo::wire::encode(pop3.remove(r.boxes.value(0), r.message));
        case Operation::Save:
            return korimo::wire::encode(pop3.save(r.boxes.value(0), r.message, r.folder));
        case Operation::Read:
        case Operation::Send:
            break;
        }
        return {};
    });
}
