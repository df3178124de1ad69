# Type information for the `_paravox` extension module.

__all__: list[str]

def hwp_to_markdown(path: str) -> str:
    """HWP 파일을 Markdown 문자열로 변환한다"""

def hwp_debug_records(path: str) -> list[tuple[int, int, int]]:
    """디버그용: 섹션 레코드의 (tag_id, level, size) 목록을 반환한다."""
