#pragma once
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <utility>

// A child of a window that is made the first time it is used: for helpers
// such as file dialogs, which cost more to build (icons, file system model,
// the dialog settings read back from disk) than the rest of their window and
// which most sessions never open. It reads like the pointer it replaces
// (`SaveDialog1->exec()`, `QFileDialog* d = SaveDialog1`); the first use runs
// the maker, which builds the object with every setting it had when it was
// made eagerly.
//
// Until then a plain object under the same parent carries the helper's name,
// so that looking the window's parts up by name finds it; it gives way to the
// real object when that is made.
template <class T>
class TLazyChild {
public:
    using TMaker = std::function<T*()>;

    TLazyChild() = default;
    TLazyChild(const TLazyChild&) = delete;
    TLazyChild& operator=(const TLazyChild&) = delete;

    // `make` returns the object with `parent` as its parent; it is called
    // once, on first use, and the object is given `name`.
    void Bind(QObject* parent, const QString& name, TMaker make)
    {
        name_ = name;
        make_ = std::move(make);
        delete placeholder_.data();
        placeholder_ = new QObject(parent);
        placeholder_->setObjectName(name_);
    }

    // The object, made now if it was not yet. Null without a maker, and
    // once the object was made and then destroyed with its parent (never
    // made a second time while the window is torn down).
    T* get()
    {
        if (!made_ && make_) {
            made_ = true;
            delete placeholder_.data();
            object_ = make_();
            if (object_)
                object_->setObjectName(name_);
        }
        return object_.data();
    }

    // Whether the object has been made (for tests and for code that only
    // wants to touch it when it exists).
    bool IsMade() const { return made_; }

    T* operator->() { return get(); }
    T& operator*() { return *get(); }
    operator T*() { return get(); }

private:
    QString name_;
    TMaker make_;
    bool made_ = false;
    QPointer<T> object_;
    QPointer<QObject> placeholder_;
};
