document.addEventListener("DOMContentLoaded", () => console.log("sample site loaded"));
