"""The module's face: attributes, signatures, argument binding and exception types."""

import importlib
import pathlib
import subprocess
import sys
import textwrap

import pytest

import _paravox

FUNCTIONS = ["hwp_to_markdown", "hwp_debug_records"]


class TestModuleObject:
    def test_attributes(self):
        assert _paravox.__name__ == "_paravox"
        assert _paravox.__doc__ == ""
        assert _paravox.__all__ == FUNCTIONS
        for name in FUNCTIONS:
            function = getattr(_paravox, name)
            assert type(function).__name__ == "builtin_function_or_method"
            assert function.__module__ == "_paravox"
            assert function.__name__ == name
            assert function.__text_signature__ == "(path)"

    def test_docstrings(self):
        assert _paravox.hwp_to_markdown.__doc__ == "HWP 파일을 Markdown 문자열로 변환한다"
        assert (
            _paravox.hwp_debug_records.__doc__
            == "디버그용: 섹션 레코드의 (tag_id, level, size) 목록을 반환한다."
        )

    def test_reimport_gives_the_same_object(self):
        first = _paravox
        del sys.modules["_paravox"]
        try:
            second = importlib.import_module("_paravox")
            assert second is first
            assert second.__all__ == FUNCTIONS
        finally:
            sys.modules["_paravox"] = first

    def test_sub_interpreter_import_is_refused(self):
        interpreters = pytest.importorskip(
            "_xxsubinterpreters", reason="this Python offers no sub-interpreter module"
        )
        # Run in a child process so a refusal cannot disturb this interpreter.
        script = textwrap.dedent("""
            import _paravox, _xxsubinterpreters as interpreters
            interp = interpreters.create()
            code = "try:\\n import _paravox\\nexcept ImportError as e:\\n assert 'sub-interpreters' in str(e)\\nelse:\\n raise SystemExit('imported')"
            interpreters.run_string(interp, code)
            print("refused")
            """)
        del interpreters
        result = subprocess.run(
            [sys.executable, "-c", script], capture_output=True, text=True, timeout=60
        )
        assert result.returncode == 0, result.stderr
        assert result.stdout.strip() == "refused"


@pytest.mark.parametrize("name", FUNCTIONS)
class TestArgumentBinding:
    @pytest.mark.parametrize(
        "args, kwargs, message",
        [
            ((), {}, "{f}() missing 1 required positional argument: 'path'"),
            (("a", "b"), {}, "{f}() takes 1 positional arguments but 2 were given"),
            (("a", "b", "c"), {}, "{f}() takes 1 positional arguments but 3 were given"),
            ((), {"x": "a"}, "{f}() got an unexpected keyword argument 'x'"),
            (("a",), {"path": "a"}, "{f}() got multiple values for argument 'path'"),
            ((), {"path": "a", "x": 1}, "{f}() got an unexpected keyword argument 'x'"),
        ],
    )
    def test_binding_errors(self, name, args, kwargs, message):
        with pytest.raises(TypeError) as caught:
            getattr(_paravox, name)(*args, **kwargs)
        assert caught.value.args == (message.format(f=name),)

    @pytest.mark.parametrize(
        "value, type_name",
        [
            (1, "int"),
            (b"x.hwp", "bytes"),
            (None, "NoneType"),
            (pathlib.PurePosixPath("x.hwp"), "PurePosixPath"),
            (pathlib.Path("x.hwp"), type(pathlib.Path("x.hwp")).__qualname__),
        ],
    )
    def test_path_must_be_a_str(self, name, value, type_name):
        with pytest.raises(TypeError) as caught:
            getattr(_paravox, name)(value)
        expected = f"argument 'path': '{type_name}' object cannot be converted to 'PyString'"
        assert caught.value.args == (expected,)

    def test_nested_class_uses_its_qualified_name(self, name):
        class Holder:
            class Inner:
                pass

        with pytest.raises(TypeError, match=r"'TestArgumentBinding\..*Holder\.Inner' object"):
            getattr(_paravox, name)(Holder.Inner())

    def test_str_subclass_is_accepted(self, name, tmp_path):
        class MyStr(str):
            pass

        missing = MyStr(str(tmp_path / "missing.hwp"))
        with pytest.raises(RuntimeError, match=r"^IO error: .* \(os error 2\)$"):
            getattr(_paravox, name)(missing)

    def test_keyword_and_position_behave_alike(self, name, tmp_path):
        missing = str(tmp_path / "missing.hwp")
        messages = []
        for call in (
            lambda: getattr(_paravox, name)(missing),
            lambda: getattr(_paravox, name)(path=missing),
        ):
            with pytest.raises(RuntimeError) as caught:
                call()
            messages.append(caught.value.args)
        assert messages[0] == messages[1]

    def test_lone_surrogate_raises_unicode_encode_error(self, name):
        with pytest.raises(UnicodeEncodeError):
            getattr(_paravox, name)("bad\udcffname.hwp")

    def test_runtime_error_has_the_message_as_only_argument(self, name, tmp_path):
        with pytest.raises(RuntimeError) as caught:
            getattr(_paravox, name)(str(tmp_path / "nope.hwp"))
        assert type(caught.value) is RuntimeError
        assert len(caught.value.args) == 1
        assert str(caught.value) == caught.value.args[0]
        assert caught.value.args[0] == "IO error: No such file or directory (os error 2)"
