#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// The setup screens in the order the user passes them, plus the screen that shows what went wrong.
enum class OnboardingStep { connect, providers, folders, connected, needsAttention };

// "connect", "providers", "folders", "connected" or "needsAttention".
QString rawValue(OnboardingStep step);
// The step whose raw value is exactly `rawValue` (case-sensitive), or nullopt.
std::optional<OnboardingStep> onboardingStepFromRawValue(QStringView rawValue);
