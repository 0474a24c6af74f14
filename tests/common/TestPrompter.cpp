#include "TestPrompter.h"
#include "TestKeyring.h"

#include <QtGlobal>

#define GCR_API_SUBJECT_TO_CHANGE
#include <gcr/gcr-base.h>

TestPrompter::TestPrompter()
{
    qputenv("GNOME_KEYRING_TEST_PROMPTER", gcr_mock_prompter_start());
}

TestPrompter::~TestPrompter()
{
    qunsetenv("GNOME_KEYRING_TEST_PROMPTER");
    gcr_mock_prompter_stop();
}

void TestPrompter::answerNext(Answer answer)
{
    if (answer == Answer::password)
        gcr_mock_prompter_expect_password_ok(TestKeyring::sessionPassword, nullptr);
    else
        gcr_mock_prompter_expect_password_cancel();
}

bool TestPrompter::isExpecting() const
{
    return gcr_mock_prompter_is_expecting();
}
