#pragma once
// Rules between arguments: exactly one of several, or any of several.

#include "knob/Argument.h"
#include "knob/BaseArgument.h"
#include "knob/Exceptions.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace knob {

/// One: exactly one member must be given. Any: members are independent, each with its own
/// requiredness. Imp is reserved; no constraint of that type can be built.
enum ConstraintType { Imp = 0, One = 1, Any = 2 };

namespace detail {

template <ConstraintType T> struct ConstraintTraits;

template <> struct ConstraintTraits<One> {
    /// Separator between the usages of the members.
    static const char* joinStr() { return " | "; }
};

template <> struct ConstraintTraits<Any> {
    static const char* joinStr() { return " "; }
};

} // namespace detail

/// Holds copies of its members (arguments or other constraints); the copies share counters and
/// variables with what was added. Requiredness must be set before a member is added: the copy
/// and the usage string take it at that moment.
template <ConstraintType T> class ArgumentConstraint : public BaseArgument {
    static_assert(T == One || T == Any, "only One and Any constraints exist");

public:
    ArgumentConstraint() = default;
    template <class... Members>
    explicit ArgumentConstraint(const BaseArgument& first, const Members&... rest) {
        // A derived class is not built yet: append without the virtual hook.
        appendMember(first);
        (appendMember(rest), ...);
    }
    ArgumentConstraint(const ArgumentConstraint& other)
        : BaseArgument(other), m_usageString(other.m_usageString) {
        for (const auto& member : other.m_args) {
            m_args.push_back(member->clone());
        }
    }
    ArgumentConstraint(ArgumentConstraint&&) noexcept = default;
    ArgumentConstraint& operator=(ArgumentConstraint other) noexcept {
        // Moves the base part only; the members below are still other's own.
        BaseArgument::operator=(static_cast<BaseArgument&&>(other));
        m_args = std::move(other.m_args);
        m_usageString = std::move(other.m_usageString);
        return *this;
    }

    void find_all_arguments(std::vector<const Argument*>& out) const override {
        for (const auto& member : m_args) {
            member->find_all_arguments(out);
        }
    }
    /// 1 when any member was given, else 0.
    unsigned count() const override {
        for (const auto& member : m_args) {
            if (member->is_set()) {
                return 1;
            }
        }
        return 0;
    }
    /// Checks the members that were given (and, for Any, the required ones), then the rule of
    /// the constraint; throws the first refusal. A One constraint ignores its own requiredness:
    /// its container decides whether to check it at all.
    void check_valid() const override;
    std::string usage() const override { return m_usageString; }
    std::unique_ptr<BaseArgument> clone() const& override {
        return std::make_unique<ArgumentConstraint>(*this);
    }
    std::unique_ptr<BaseArgument> clone() && override {
        return std::make_unique<ArgumentConstraint>(std::move(*this));
    }

    /// Appends copies of the members, in order; returns this constraint.
    template <class... Members>
    ArgumentConstraint& add(const BaseArgument& first, const Members&... rest) {
        addMember(first);
        (addMember(rest), ...);
        return *this;
    }
    /// Appends a copy of the argument.
    ArgumentConstraint& operator+=(const Argument& arg) { return add(arg); }
    /// Appends copies of the other constraint's members (merges rather than nests).
    ArgumentConstraint& operator+=(const ArgumentConstraint& other) {
        // Indexing keeps c += c well-defined while m_args grows.
        const size_t n = other.m_args.size();
        for (size_t i = 0; i < n; ++i) {
            addMember(*other.m_args[i]);
        }
        return *this;
    }

    /// Number of direct members.
    size_t size() const { return m_args.size(); }

protected:
    /// Called for every member added after construction; derived classes extend it.
    virtual void addMember(const BaseArgument& member) { appendMember(member); }

private:
    void appendMember(const BaseArgument& member) {
        std::unique_ptr<BaseArgument> copy = member.clone();
        if (!m_args.empty()) {
            m_usageString += detail::ConstraintTraits<T>::joinStr();
        }
        m_usageString += usageArgument(*copy);
        m_args.push_back(std::move(copy));
    }

    std::string usageArgument(const BaseArgument& member) const;

    std::vector<std::unique_ptr<BaseArgument>> m_args;
    std::string m_usageString;
};

template <ConstraintType T>
std::string ArgumentConstraint<T>::usageArgument(const BaseArgument& member) const {
    std::string usage = member.usage();
    if (T == One) {
        return usage;
    }
    if (dynamic_cast<const Argument*>(&member) != nullptr) {
        return member.required() ? usage : "[ " + usage + " ]";
    }
    if (!member.required()) {
        return "[ " + usage + " ]";
    }
    // An empty constraint has an empty usage; it gets no brackets.
    return usage.empty() ? usage : "( " + usage + " )";
}

template <ConstraintType T> void ArgumentConstraint<T>::check_valid() const {
    if (T == One) {
        unsigned given = 0;
        for (const auto& member : m_args) {
            if (member->is_set()) {
                member->check_valid();
                ++given;
            }
        }
        if (given != 1) {
            std::vector<const BaseArgument*> all;
            for (const auto& member : m_args) {
                all.push_back(member.get());
            }
            throw constraint_error("Must set exactly one argument from ", all);
        }
        return;
    }
    std::vector<const BaseArgument*> missing;
    for (const auto& member : m_args) {
        if (member->is_set() || member->required()) {
            member->check_valid();
            if (member->required() && !member->is_set()) {
                missing.push_back(member.get());
            }
        }
    }
    if (!missing.empty()) {
        throw constraint_error("The following requirements are missing: ", missing);
    }
}

/// Exactly one of a and b: a constraint holding copies of both, in this order.
inline ArgumentConstraint<One> operator^(const Argument& a, const Argument& b) {
    return ArgumentConstraint<One>(a, b);
}

/// Marks an expiring constraint required and hands it on: parser.add(+(a ^ b)).
template <ConstraintType T> ArgumentConstraint<T> operator+(ArgumentConstraint<T>&& constraint) {
    constraint.set_required(true);
    return std::move(constraint);
}

} // namespace knob
