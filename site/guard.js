// A form that writes is sent once: while its post is on the way, another
// click on its button is ignored. Forms whose own check refuses the submit
// are not marked. Coming back to the page (the back button) clears the mark.
(function () {
  document.addEventListener('submit', function (e) {
    var form = e.target;
    if (e.defaultPrevented) return;
    if (form.getAttribute('data-sending')) {
      e.preventDefault();
      return;
    }
    form.setAttribute('data-sending', '1');
  });
  window.addEventListener('pageshow', function () {
    var forms = document.querySelectorAll('form[data-sending]');
    for (var i = 0; i < forms.length; i++) forms[i].removeAttribute('data-sending');
  });
})();
