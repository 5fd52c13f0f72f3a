// Every message text of the job is explained in the message reference.
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "messages.h"

namespace {

// As the reference writes a text: in backticks, a line feed as \n.
std::string AsInReference(const char *text)
{
    std::string quoted = "`";
    for (const char *c = text; *c != '\0'; c++)
        quoted += *c == '\n' ? std::string("\\n") : std::string(1, *c);
    return quoted + "`";
}

TEST(Messages, EachIsInTheReference)
{
    std::stringstream file;
    file << std::ifstream(QUILLSET_MESSAGE_REFERENCE).rdbuf();
    const std::string reference = file.str();
    ASSERT_FALSE(reference.empty()) << QUILLSET_MESSAGE_REFERENCE;
#define EXPECT_IN_REFERENCE(name, message) \
    EXPECT_NE(reference.find(AsInReference(message)), std::string::npos) << #name ": " << AsInReference(message);
    QUILLSET_MESSAGES(EXPECT_IN_REFERENCE)
    EXPECT_IN_REFERENCE(MsgNotRunningFormat, QUILLSET_NOT_RUNNING_HEAD "N" QUILLSET_NOT_RUNNING_TAIL)
#undef EXPECT_IN_REFERENCE
}

}
