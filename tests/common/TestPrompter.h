#pragma once

// libgcr's mock prompter in place of the person who answers gnome-keyring's prompts, on a thread of its own,
// so a test can block in a Secret Service call while the prompt is answered. One per process. It serves
// only a gnome-keyring started after it (as by TestKeyring::restartDaemon()): construction names it in this
// process's environment as the prompter of every daemon started from here.
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
