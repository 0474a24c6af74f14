#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <cstddef>
#include <optional>
#include <utility>

// The texts that stand for an enumeration's cases (in files, reports, the window), listed once, every case
// in declaration order starting at 0; a table out of that order does not compile:
//
//     constexpr EnumTextTable stateTexts{std::pair{State::on, u"on"}, std::pair{State::off, u"off"}};
//     stateTexts.text(State::on); // "on"
//     stateTexts.value(u"off");   // State::off; any other text, another letter case too, gives nullopt
template<typename Enum, std::size_t size>
class EnumTextTable
{
public:
    template<typename... Entries>
    consteval explicit EnumTextTable(Entries... entries)
        : m_entries{{std::pair<Enum, QStringView>(entries.first, entries.second)...}}
    {
        for (std::size_t index = 0; index < size; ++index) {
            if (static_cast<std::size_t>(m_entries[index].first) != index)
                throw "EnumTextTable: list every case once, in declaration order";
        }
    }

    QString text(Enum value) const { return m_entries.at(static_cast<std::size_t>(value)).second.toString(); }

    std::optional<Enum> value(QStringView text) const
    {
        for (const auto &[candidate, candidateText] : m_entries) {
            if (candidateText == text)
                return candidate;
        }
        return std::nullopt;
    }

private:
    std::array<std::pair<Enum, QStringView>, size> m_entries;
};

template<typename Enum, typename... Rest>
EnumTextTable(std::pair<Enum, const char16_t *>, Rest...) -> EnumTextTable<Enum, 1 + sizeof...(Rest)>;
