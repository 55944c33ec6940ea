"""The value and error classes of the nametree package."""
from __future__ import annotations

import enum
from typing import NamedTuple, Optional


class ContainerType(enum.IntEnum):
    """A container's type; it also equals its name ("global" == ContainerType.GLOBAL)."""

    PLAIN = 0
    GLOBAL = 2
    TARGET = 3
    OWN = 4

    def __str__(self) -> str:
        return self.name.lower()

    def __eq__(self, other: object) -> bool:
        if isinstance(other, str):
            return str(self) == other
        return int(self) == other

    __hash__ = enum.IntEnum.__hash__


class Name(NamedTuple):
    """One name of a container."""

    id: int
    text: str


class Container(NamedTuple):
    """One container as the walk meets it; parent and depth are 0 at the top level."""

    id: int
    type: "ContainerType | int"
    parent: int
    depth: int
    names: list[Name]


class Verdict(NamedTuple):
    """Whether a text may be added to a container; true when it may."""

    accepted: bool
    code: Optional[str]
    reason: str
    other_container: int
    other_name: int

    def __bool__(self) -> bool:
        return self.accepted


class Hit(NamedTuple):
    """A name found by its text."""

    container: int
    id: int
    text: str


class Finding(NamedTuple):
    """One finding of the document check."""

    check: str
    warning: bool
    container: int
    name: int
    text: str
    other_container: int
    other_name: int
    message: str


class Error(Exception):
    """A refusal: .code is the status name ("E_NAME_DUPLICATE"), .status its number,
    .kind the kind of refusal, and str(error) a sentence saying why. Where the
    library decided it: .reason ("duplicate", "keyword", "no-container", ...),
    for a broken rule .rule ("first-character", ...) and .position (from 1),
    for a collision .namespace ("global", ...) and .holder (container ID, name ID);
    None otherwise."""

    def __init__(self, message: str, code: str = "E_FAIL", status: int = -2147467259, kind: str = "failed"):
        super().__init__(message)
        self.message = message
        self.code = code
        self.status = status
        self.kind = kind
        self.reason: str | None = None
        self.rule: str | None = None
        self.position: int | None = None
        self.namespace: str | None = None
        self.holder: tuple[int, int] | None = None


class InvalidNameError(Error, ValueError):
    """The text breaks the name rule."""


class DuplicateNameError(Error):
    """The text is taken in a namespace the container must stay apart from, or is a keyword."""


class KeywordError(DuplicateNameError):
    """The text is a reserved word; .code stays "E_NAME_DUPLICATE"."""


class NotFoundError(Error, LookupError):
    """No container, name or file has that ID or path."""


class FullError(Error):
    """A table holds the most entries a saved document allows."""


class OutOfIdsError(Error):
    """The process has issued every name and container ID there is."""


class InvalidTextError(Error, ValueError):
    """The text cannot be kept as it is (a lone surrogate)."""


class InvalidArgumentError(Error, ValueError):
    """An argument is out of range, or the document is closed."""


class FileError(Error):
    """The document file cannot be opened or written."""


DocumentFileError = FileError  # the earlier name; to be removed


class ReadOnlyError(FileError):
    """The document was opened read-only, or its file cannot be written."""


class NotADocumentError(FileError):
    """The file is no document of this format."""


class DamagedError(FileError):
    """The document cannot be read, or committing would lose a damaged entry."""


class LockedError(FileError):
    """Another program is writing the file."""


class DocumentExistsError(FileError):
    """A document cannot be created where a file already is."""


ERRORS: dict[str, type[Error]] = {
    "invalid-name": InvalidNameError,
    "duplicate": DuplicateNameError,
    "keyword": KeywordError,
    "not-found": NotFoundError,
    "full": FullError,
    "invalid-text": InvalidTextError,
    "invalid-argument": InvalidArgumentError,
    "read-only": ReadOnlyError,
    "not-a-document": NotADocumentError,
    "damaged": DamagedError,
    "locked": LockedError,
    "exists": DocumentExistsError,
    "io": FileError,
    "out-of-memory": Error,
    "out-of-ids": OutOfIdsError,
    "failed": Error,
}
