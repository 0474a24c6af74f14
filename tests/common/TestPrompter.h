#pragma once

// libgcr's mock prompter in place of the person who answers gnome-keyring's prompts. It runs on a thread of
// its own, so a test can block in a Secret Service call while the prompt is answered. One per process.
//
// It serves only a gnome-keyring started after it: construction names it, in this process's environment
// (GNOME_KEYRING_TEST_PROMPTER), as the prompter of every daemon started from here, such as by
// TestKeyring::restartDaemon().
class TestPrompter
{
public:
    enum class Answer {
        password, // the session's password, then Continue
        dismiss,  // Cancel
    };

    TestPrompter();
    ~TestPrompter();
    TestPrompter(const TestPrompter &) = delete;
    TestPrompter &operator=(const TestPrompter &) = delete;

    // Queues the answer to the next prompt.
    void answerNext(Answer answer);
    // Whether a queued answer is still waiting for its prompt.
    bool isExpecting() const;
};
