#pragma once

#include <QString>

// The setup screens in the order the user passes them, plus the screen that shows what went wrong.
enum class OnboardingStep { connect, providers, folders, connected, needsAttention };

// "connect", "providers", "folders", "connected" or "needsAttention".
QString rawValue(OnboardingStep step);