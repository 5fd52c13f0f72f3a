// Every message text of the job is explained in the README's message reference.
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "messages.h"

namespace {

// As the reference writes a text: in backticks, a line feed as \n.
std::string AsInReadme(const char *text)
{
    std::string quoted = "`";
    for (const char *c = text; *c != '\0'; c++)
        quoted += *c == '\n' ? std::string("\\n") : std::string(1, *c);
    return quoted + "`";
}

TEST(Messages, EachIsInTheReadmeReference)
{
    std::stringstream readme;
    readme << std::ifstream(QUILLSET_README).rdbuf();
    const std::string text = readme.str();
    size_t start = text.find("### Message reference");
    ASSERT_NE(start, std::string::npos) << QUILLSET_README;
    const std::string reference = text.substr(start, text.find("\n### ", start) - start);
#define EXPECT_IN_REFERENCE(name, message) \
    EXPECT_NE(reference.find(AsInReadme(message)), std::string::npos) << #name ": " << AsInReadme(message);
    QUILLSET_MESSAGES(EXPECT_IN_REFERENCE)
#undef EXPECT_IN_REFERENCE
}

}
