#pragma once

#include <string>

namespace vela::test {

// An English XLIFF file of updater texts: the log-file sentence and the text of error 3 ('UPZo'), each different
// from its default.
inline std::string EnglishUpdaterTexts() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><xliff version=\"1.2\"><file original=\"u\" "
           "source-language=\"en\" target-language=\"en\"><body>"
           "<trans-unit resname=\"MoreInformationsAvailableInLogFile\"><source>x</source>"
           "<target>See the log '{LogFilePath}'</target></trans-unit>"
           "<trans-unit resname=\"ERR_UPZo_3\"><source>x</source><target>Nothing at {path}</target>"
           "</trans-unit></body></file></xliff>";
}

} // namespace vela::test
